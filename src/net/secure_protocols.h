#pragma once

#include <windows.h>
#include <winhttp.h>

#include <functional>

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
// Older MinGW-w64 headers lack it; the value is WinHTTP's own.
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

// The TLS versions a session asks WinHTTP for. Windows 7 and 8.0 offer only
// TLS 1.0 unless a program asks for more (Windows 7 takes the request with
// KB3140245), and the update server speaks TLS 1.2 and 1.3 alone. A system
// may refuse the whole request for one flag it does not know, so TLS 1.2
// alone is asked for next.
enum class SecureProtocols {
    Tls12And13,
    Tls12,
    // The system refused both requests: the session keeps its default.
    SystemDefault,
};

// Offers each request in turn, best first, as WINHTTP_OPTION_SECURE_PROTOCOLS
// flags, until `systemAccepts` takes one: the request it took.
SecureProtocols chooseSecureProtocols(const std::function<bool(DWORD flags)>& systemAccepts);
