#pragma once

#include "common/support_log.h"
#include "update/offer.h"

#include <string>
#include <string_view>

// Asks the update server which release is current for the installed version
// (as the server is to be asked with it), along the run's route, and judges
// the answer, placing a newer release's rollout by the office id (empty:
// none); the request goes to the log.
CheckResult checkForUpdate(const std::wstring& installedVersion, NetworkRoute route, std::string_view officeId,
                           SupportLog& log);
