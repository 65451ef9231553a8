#include "net/proxy_authentication.h"

#include <initializer_list>

ProxyAuthentication decideProxyAuthentication(DWORD offeredSchemes, DWORD authTarget, RouteSource proxySource,
                                              bool answeredBefore) {
    if (authTarget != WINHTTP_AUTH_TARGET_PROXY || proxySource == RouteSource::Wpad || answeredBefore) {
        return {};
    }
    // Negotiate uses Kerberos where the domain has it and falls back to NTLM
    // itself: the better of the two when both are offered.
    for (const DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM}) {
        if ((offeredSchemes & scheme) != 0) {
            return {true, scheme};
        }
    }
    return {};
}
