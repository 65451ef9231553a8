#include "net/proxy_authentication.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kNtlm = WINHTTP_AUTH_SCHEME_NTLM;
constexpr DWORD kNegotiate = WINHTTP_AUTH_SCHEME_NEGOTIATE;

// Only a proxy that someone chose gets the logon: one WPAD found may be
// anyone's on the office network.
TEST(DecideProxyAuthentication, AnswersNtlmOrNegotiateOnceWithTheLogonOnlyToAChosenProxy) {
    const DWORD proxy = WINHTTP_AUTH_TARGET_PROXY;
    using enum RouteSource;
    const std::tuple<const char*, DWORD, DWORD, RouteSource, bool, ProxyAuthentication> cases[] = {
        {"Negotiate preferred", WINHTTP_AUTH_SCHEME_BASIC | kNtlm | kNegotiate, proxy, Manual, false, {true, kNegotiate}},
        {"NTLM beside Basic", WINHTTP_AUTH_SCHEME_BASIC | kNtlm, proxy, Manual, false, {true, kNtlm}},
        {"from a PAC script", kNtlm, proxy, Pac, false, {true, kNtlm}},
        {"the machine-wide setting", kNegotiate, proxy, Machine, false, {true, kNegotiate}},
        {"found by WPAD", kNtlm | kNegotiate, proxy, Wpad, false, {}},
        {"Basic and Digest want a password", WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_DIGEST, proxy, Manual,
         false, {}},
        {"logon refused once", kNtlm | kNegotiate, proxy, Manual, true, {}},
        {"the server asks, not a proxy", kNtlm, WINHTTP_AUTH_TARGET_SERVER, Manual, false, {}},
    };
    for (const auto& [name, offered, target, source, answeredBefore, decision] : cases) {
        EXPECT_EQ(decideProxyAuthentication(offered, target, source, answeredBefore), decision) << name;
    }
}

}  // namespace
