#include "net/proxy_authentication.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kBasic = WINHTTP_AUTH_SCHEME_BASIC;
constexpr DWORD kNtlm = WINHTTP_AUTH_SCHEME_NTLM;
constexpr DWORD kNegotiate = WINHTTP_AUTH_SCHEME_NEGOTIATE;
constexpr DWORD kDigest = WINHTTP_AUTH_SCHEME_DIGEST;
constexpr DWORD kProxy = WINHTTP_AUTH_TARGET_PROXY;

struct AuthenticationCase {
    const char* name;
    DWORD offered;
    DWORD target;
    bool answeredBefore;
    ProxyAuthentication decision;
};

TEST(DecideProxyAuthentication, AnswersNtlmOrNegotiateOnceWithTheLogonAndNothingElse) {
    const AuthenticationCase cases[] = {
        {"Negotiate", kNegotiate, kProxy, false, {true, kNegotiate}},
        {"NTLM", kNtlm, kProxy, false, {true, kNtlm}},
        {"Negotiate preferred", kBasic | kNtlm | kNegotiate, kProxy, false, {true, kNegotiate}},
        {"NTLM beside Basic", kBasic | kNtlm, kProxy, false, {true, kNtlm}},
        {"Basic wants a password", kBasic, kProxy, false, {}},
        {"Digest wants a password", kDigest, kProxy, false, {}},
        {"Basic and Digest", kBasic | kDigest, kProxy, false, {}},
        {"nothing offered", 0, kProxy, false, {}},
        {"logon refused once", kNtlm | kNegotiate, kProxy, true, {}},
        {"the server asks, not a proxy", kNtlm, WINHTTP_AUTH_TARGET_SERVER, false, {}},
    };
    for (const AuthenticationCase& c : cases) {
        EXPECT_EQ(decideProxyAuthentication(c.offered, c.target, c.answeredBefore), c.decision) << c.name;
    }
}

}  // namespace
