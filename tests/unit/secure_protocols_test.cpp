#include "net/secure_protocols.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD kUpToTls10 =
    WINHTTP_FLAG_SECURE_PROTOCOL_SSL2 | WINHTTP_FLAG_SECURE_PROTOCOL_SSL3 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
constexpr DWORD kUpToTls12 = kUpToTls10 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD kBelowTls12 = kUpToTls10 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1;

// A system is the set of flags its WinHTTP knows: it refuses a value with any other.
struct SystemCase {
    const char* system;
    DWORD known;
    SecureProtocols chosen;
    DWORD optionLeft;
};

TEST(ChooseSecureProtocols, AsksForTls12AndNewerAndFallsBackToWhatTheSystemTakes) {
    const SystemCase cases[] = {
        {"Windows 11", kUpToTls12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, SecureProtocols::Tls12And13,
         WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3},
        {"Windows 7 with KB3140245, 8.1, 10", kUpToTls12, SecureProtocols::Tls12,
         WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2},
        {"Windows 7 without KB3140245", kUpToTls10, SecureProtocols::SystemDefault, 0},
        {"refuses the option", 0, SecureProtocols::SystemDefault, 0},
    };
    for (const SystemCase& c : cases) {
        DWORD optionLeft = 0;
        const auto systemAccepts = [&](DWORD flags) {
            EXPECT_EQ(flags & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2) << c.system;
            EXPECT_EQ(flags & kBelowTls12, 0u) << c.system << ": the server speaks nothing older than TLS 1.2";
            if ((flags & ~c.known) != 0) {
                return false;
            }
            optionLeft = flags;
            return true;
        };
        EXPECT_EQ(chooseSecureProtocols(systemAccepts), c.chosen) << c.system;
        EXPECT_EQ(optionLeft, c.optionLeft) << c.system;
    }
}

}  // namespace
