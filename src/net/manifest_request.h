#pragma once

#include <string>

// Asks the pinned update server which release is current. The body is
// emptied first and filled only on success.
bool fetchManifestText(std::wstring installedVersion, std::wstring& body);
