#pragma once

#include "common/failure.h"
#include "common/owned_handles.h"
#include "net/deployment.h"
#include "net/network_route.h"
#include "net/secure_protocols.h"

#include <string>

inline constexpr wchar_t kUserAgent[] = L"NIRVA-Updater";
// Every other status, 2xx and redirects included, is a failure.
inline constexpr DWORD kHttpStatusOk = 200;
// Trust comes from the pinned key alone, so the certificate's issuer, names
// and dates are not checked.
inline constexpr DWORD kRelaxedSecurityFlags =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

// Only the check request, the package download and the outcome reports talk
// to the server, and only through this exchange. Members are declared so that they close in
// the order request, connection, session.
struct PinnedExchange {
    OwnedInternetHandle session;
    OwnedInternetHandle connection;
    OwnedInternetHandle request;
    // The TLS versions the session asked for, or the system's default.
    SecureProtocols protocols = SecureProtocols::SystemDefault;
};

// Sends a GET for the path to the update server along the run's route and
// receives the response headers, never following a redirect, every wait
// bounded. No failure only when the server's key matches a pin, so that no
// header or body byte of any other server is ever looked at; through a proxy
// the pin is checked inside its tunnel, so a proxy that inspects TLS is
// refused as any other key is. A proxy's 407 that cannot be answered with
// the user's logon is an HttpStatus failure. The step is the one the request
// serves, and a failure is that step's; an outcome report (the step Report)
// bounds each wait to about 3 s. Extra headers are CRLF-separated lines
// ("Range: ..."); the check sends none.
Failure sendPinnedRequest(const std::wstring& path, const NetworkRoute& route, FailureStep step,
                          PinnedExchange& exchange, const std::wstring& extraHeaders = {});

// Compares the SHA-256 of the certificate's SubjectPublicKeyInfo with the pins.
bool verifyServerKeyPin(HINTERNET request);

// A numeric response header; 0 when it is absent or unreadable.
DWORD queryNumericHeader(HINTERNET request, DWORD query);
// A response header as text; empty when it is absent or unreadable.
std::wstring queryTextHeader(HINTERNET request, DWORD query);
