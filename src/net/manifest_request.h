#pragma once

#include "common/failure.h"

#include <windows.h>

#include <cstdint>
#include <string>

// What the support log records of the exchange: the answer's status (0: no
// answer came) and the body bytes read.
struct ExchangeSummary {
    DWORD status = 0;
    std::uint64_t bytes = 0;
};

// Asks the pinned update server which release is current. The body is
// emptied first and filled only when there is no failure: no answer, a key
// that matches no pin, a status other than 200, or a body that broke off,
// outgrew any manifest or was empty.
Failure fetchManifestText(const std::wstring& installedVersion, std::wstring& body, ExchangeSummary& summary);
