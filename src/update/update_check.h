#pragma once

#include "update/offer.h"

#include <string>

// Asks the update server which release is current for the installed version
// (as the server is to be asked with it), along the run's route, and judges
// the answer.
CheckResult checkForUpdate(const std::wstring& installedVersion, NetworkRoute route);
