#include "net/session_protocols.h"

SecureProtocols requestSecureProtocols(HINTERNET session) {
    return chooseSecureProtocols([session](DWORD flags) {
        return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &flags, sizeof(flags)) != FALSE;
    });
}
