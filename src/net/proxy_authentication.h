#pragma once

// What to do when a proxy answers 407. The updater never holds a password:
// it can only offer the logged-on user's own Windows logon, which WinHTTP
// performs itself for NTLM and Negotiate. Anything else (Basic, Digest) would
// need a password typed into it, so the check fails with the 407 as its cause.
//
// The logon goes only to a proxy that someone chose: one the user's settings
// name (by hand or by a configured PAC script) or the machine-wide setting an
// administrator made. A proxy found by WPAD is whatever host answers for
// wpad.<domain> on the office network; answering it would hand the user's
// NetNTLM exchange to anyone who can plant that name, at every start and
// without a click. Its 407 is the failure.

#include "net/network_route.h"

#include <windows.h>
#include <winhttp.h>

struct ProxyAuthentication {
    // False: give up; the 407 is the failure.
    bool answer = false;
    // The WINHTTP_AUTH_SCHEME_* to answer with.
    DWORD scheme = 0;

    friend bool operator==(const ProxyAuthentication&, const ProxyAuthentication&) = default;
};

// From what WinHttpQueryAuthSchemes reported (the offered schemes and who
// asks), where the run's proxy came from, and whether this request has
// already answered once: a proxy that refuses the logon is not asked again.
ProxyAuthentication decideProxyAuthentication(DWORD offeredSchemes, DWORD authTarget, RouteSource proxySource,
                                              bool answeredBefore);
