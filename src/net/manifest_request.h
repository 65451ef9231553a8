#pragma once

#include "common/failure.h"
#include "net/network_route.h"

#include <windows.h>

#include <cstdint>
#include <string>

// What the support log records of the exchange: the answer's status (0: no
// answer came) and the body bytes read.
struct ExchangeSummary {
    DWORD status = 0;
    std::uint64_t bytes = 0;
};

// Asks the pinned update server which release is current, along the run's
// route. When that is the machine's route, could not resolve the server or
// connect to it, and automatic detection is the user's only setting, a proxy
// that WPAD names is asked once more and becomes the route for the rest of
// the run. The body is emptied first and filled only when there is no
// failure: no answer, a key that matches no pin, a status other than 200, or
// a body that broke off, outgrew any manifest or was empty.
Failure fetchManifestText(const std::wstring& installedVersion, NetworkRoute& route, std::wstring& body,
                          ExchangeSummary& summary);
