#pragma once

#include "common/failure.h"

#include <string>

// Asks the pinned update server which release is current. The body is
// emptied first and filled only when there is no failure: no answer, a key
// that matches no pin, a status other than 200, or a body that broke off,
// outgrew any manifest or was empty.
Failure fetchManifestText(const std::wstring& installedVersion, std::wstring& body);
