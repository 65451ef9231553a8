#include "net/proxy_authentication.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kNtlm = WINHTTP_AUTH_SCHEME_NTLM;
constexpr DWORD kNegotiate = WINHTTP_AUTH_SCHEME_NEGOTIATE;

TEST(DecideProxyAuthentication, AnswersNtlmOrNegotiateOnceWithTheLogonAndNothingElse) {
    const DWORD proxy = WINHTTP_AUTH_TARGET_PROXY;
    const std::tuple<const char*, DWORD, DWORD, bool, ProxyAuthentication> cases[] = {
        {"Negotiate preferred", WINHTTP_AUTH_SCHEME_BASIC | kNtlm | kNegotiate, proxy, false, {true, kNegotiate}},
        {"NTLM beside Basic", WINHTTP_AUTH_SCHEME_BASIC | kNtlm, proxy, false, {true, kNtlm}},
        {"Basic and Digest want a password", WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_DIGEST, proxy, false, {}},
        {"logon refused once", kNtlm | kNegotiate, proxy, true, {}},
        {"the server asks, not a proxy", kNtlm, WINHTTP_AUTH_TARGET_SERVER, false, {}},
    };
    for (const auto& [name, offered, target, answeredBefore, decision] : cases) {
        EXPECT_EQ(decideProxyAuthentication(offered, target, answeredBefore), decision) << name;
    }
}

}  // namespace
