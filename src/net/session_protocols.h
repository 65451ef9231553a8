#pragma once

#include "net/secure_protocols.h"

// Asks the WinHTTP session for TLS 1.2 and 1.3, or TLS 1.2 alone, or leaves
// the system's default when it refuses both (a Windows 7 without
// KB3140245): what the session was left with, for a log to tell.
SecureProtocols requestSecureProtocols(HINTERNET session);
