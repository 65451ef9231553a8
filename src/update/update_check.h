#pragma once

#include "common/support_log.h"
#include "update/offer.h"

#include <string>

// Asks the update server which release is current for the installed version
// (as the server is to be asked with it) and judges the answer; the request
// goes to the log.
CheckResult checkForUpdate(const std::wstring& installedVersion, SupportLog& log);
