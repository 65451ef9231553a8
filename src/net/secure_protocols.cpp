#include "net/secure_protocols.h"

#include <utility>

namespace {

constexpr std::pair<SecureProtocols, DWORD> kRequests[] = {
    {SecureProtocols::Tls12And13, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3},
    {SecureProtocols::Tls12, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2},
};

}  // namespace

SecureProtocols chooseSecureProtocols(const std::function<bool(DWORD flags)>& systemAccepts) {
    for (const auto& [protocols, flags] : kRequests) {
        if (systemAccepts(flags)) {
            return protocols;
        }
    }
    return SecureProtocols::SystemDefault;
}
