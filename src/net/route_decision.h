#pragma once

// The platform's half of the network route: the user's Internet Options,
// and the PAC script or WPAD discovery WinHTTP evaluates for the update
// server. Each evaluation is bounded in time, whatever the network does.

#include "net/network_route.h"

#include <optional>

// Decided once per run, before the check: the PAC script's answer when the
// user names one and it can be evaluated in time, else the manual proxy and
// its bypass list, else the machine's route.
NetworkRoute decideNetworkRoute();

// WPAD discovery, for a route whose machine default could not reach the
// server: the proxy it names, or none when it finds none in time or says
// DIRECT (the failed route already went direct).
std::optional<NetworkRoute> discoverProxyRoute();
