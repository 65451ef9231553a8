#include "net/proxy_authentication.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kBasic = WINHTTP_AUTH_SCHEME_BASIC;
constexpr DWORD kNtlm = WINHTTP_AUTH_SCHEME_NTLM;
constexpr DWORD kNegotiate = WINHTTP_AUTH_SCHEME_NEGOTIATE;
constexpr DWORD kProxy = WINHTTP_AUTH_TARGET_PROXY;

TEST(DecideProxyAuthentication, AnswersNtlmOrNegotiateOnceWithTheLogonAndNothingElse) {
    const std::tuple<const char*, DWORD, DWORD, bool, ProxyAuthentication> cases[] = {
        {"Negotiate preferred", kBasic | kNtlm | kNegotiate, kProxy, false, {true, kNegotiate}},
        {"NTLM beside Basic", kBasic | kNtlm, kProxy, false, {true, kNtlm}},
        {"Basic and Digest want a password", kBasic | WINHTTP_AUTH_SCHEME_DIGEST, kProxy, false, {}},
        {"nothing offered", 0, kProxy, false, {}},
        {"logon refused once", kNtlm | kNegotiate, kProxy, true, {}},
        {"the server asks, not a proxy", kNtlm, WINHTTP_AUTH_TARGET_SERVER, false, {}},
    };
    for (const auto& [name, offered, target, answeredBefore, decision] : cases) {
        EXPECT_EQ(decideProxyAuthentication(offered, target, answeredBefore), decision) << name;
    }
}

}  // namespace
