#pragma once

#include "net/network_route.h"

#include <string>

// Asks the pinned update server which release is current, along the run's
// route. When that route is the machine's, could not reach the server, and
// automatic detection is the user's only setting, a proxy that WPAD names is
// asked once more and becomes the route for the rest of the run. The body is
// emptied first and filled only on success.
bool fetchManifestText(std::wstring installedVersion, NetworkRoute& route, std::wstring& body);
