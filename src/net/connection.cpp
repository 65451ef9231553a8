#include "net/connection.h"

#include "net/proxy_authentication.h"
#include "net/session_protocols.h"

#include <algorithm>

namespace {

// The check and the download alike: a server that accepts no connection is
// given up after seconds, not the platform's minute or more, so the start
// shows its box while the user still waits for it.
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;
// An outcome report is worth little against the run's time: about 3 s.
constexpr int kReportPhaseTimeoutMs = 3000;

HINTERNET openSession(const NetworkRoute& route) {
    switch (route.kind) {
        case RouteKind::Proxy:
            return WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, route.proxy.c_str(),
                               WINHTTP_NO_PROXY_BYPASS, 0);
        case RouteKind::Direct:
            return WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0);
        case RouteKind::MachineDefault:
            break;
    }
    return WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS, 0);
}

bool setRequestOptions(HINTERNET request) {
    DWORD securityFlags = kRelaxedSecurityFlags;
    WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &securityFlags, sizeof(securityFlags));
    // A followed redirect would be checked against the pin only at its last
    // hop, and the first hop is trusted with any certificate: a 3xx must
    // reach the caller as what it is, a status other than 200.
    DWORD disabledFeatures = WINHTTP_DISABLE_REDIRECTS;
    return WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabledFeatures, sizeof(disabledFeatures));
}

void setTimeouts(HINTERNET session, FailureStep step) {
    if (step == FailureStep::Report) {
        WinHttpSetTimeouts(session, kReportPhaseTimeoutMs, kReportPhaseTimeoutMs, kReportPhaseTimeoutMs,
                           kReportPhaseTimeoutMs);
    } else {
        WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    }
}

bool hasServerCertificate(HINTERNET request) {
    PCCERT_CONTEXT rawCertificate = nullptr;
    DWORD size = sizeof(rawCertificate);
    const bool found = WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &rawCertificate, &size);
    const OwnedCertificate certificate(found ? rawCertificate : nullptr);
    return certificate != nullptr;
}

// A 407 that came before any TLS: the proxy refused the tunnel. Inside the
// tunnel whoever answers must first pass the pin, and never sees a logon.
bool proxyRefusedTunnel(HINTERNET request) {
    return queryNumericHeader(request, WINHTTP_QUERY_STATUS_CODE) == HTTP_STATUS_PROXY_AUTH_REQ &&
           !hasServerCertificate(request);
}

// WinHTTP answers with the logged-on user's own logon, when the proxy offers
// a scheme that takes it: no name and no password pass through the updater.
bool answerWithLogon(HINTERNET request, RouteSource proxySource, bool answeredBefore) {
    DWORD offered = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (!WinHttpQueryAuthSchemes(request, &offered, &first, &target)) {
        return false;
    }
    const ProxyAuthentication logon = decideProxyAuthentication(offered, target, proxySource, answeredBefore);
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    return logon.answer &&
           WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy)) &&
           WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, logon.scheme, nullptr, nullptr, nullptr);
}

// Sends and receives the headers; a proxy that refuses the tunnel is
// answered once with the user's logon, or its 407 is the failure.
Failure exchangeHeaders(HINTERNET request, const NetworkRoute& route, FailureStep step,
                        const std::wstring& extraHeaders) {
    const bool withHeaders = !extraHeaders.empty();
    for (bool answeredProxy = false;; answeredProxy = true) {
        if (!WinHttpSendRequest(request, withHeaders ? extraHeaders.c_str() : WINHTTP_NO_ADDITIONAL_HEADERS,
                                withHeaders ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
            !WinHttpReceiveResponse(request, nullptr)) {
            return {step, FailureKind::Unreachable, 0, GetLastError()};
        }
        if (!proxyRefusedTunnel(request)) {
            return {};
        }
        if (!answerWithLogon(request, route.source, answeredProxy)) {
            return {step, FailureKind::HttpStatus, HTTP_STATUS_PROXY_AUTH_REQ};
        }
    }
}

}  // namespace

bool verifyServerKeyPin(HINTERNET request) {
    PCCERT_CONTEXT rawCertificate = nullptr;
    DWORD size = sizeof(rawCertificate);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &rawCertificate, &size)) {
        return false;
    }
    const OwnedCertificate certificate(rawCertificate);
    KeyDigest digest{};
    DWORD digestSize = static_cast<DWORD>(digest.size());
    const BOOL hashed = CryptHashPublicKeyInfo(
        0, CALG_SHA_256, 0, X509_ASN_ENCODING,
        const_cast<PCERT_PUBLIC_KEY_INFO>(&certificate->pCertInfo->SubjectPublicKeyInfo), digest.data(),
        &digestSize);
    return hashed && digestSize == digest.size() &&
           std::find(kPinnedKeyDigests.begin(), kPinnedKeyDigests.end(), digest) != kPinnedKeyDigests.end();
}

DWORD queryNumericHeader(HINTERNET request, DWORD query) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &value, &size, WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return value;
}

std::wstring queryTextHeader(HINTERNET request, DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(wchar_t)) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    value.resize(size / sizeof(wchar_t));
    return value;
}

Failure sendPinnedRequest(const std::wstring& path, const NetworkRoute& route, FailureStep step,
                          PinnedExchange& exchange, const std::wstring& extraHeaders) {
    const auto failed = [step](FailureKind kind) { return Failure{step, kind, 0, GetLastError()}; };
    exchange.session.reset(openSession(route));
    if (!exchange.session) {
        return failed(FailureKind::System);
    }
    exchange.protocols = requestSecureProtocols(exchange.session.get());
    setTimeouts(exchange.session.get(), step);
    exchange.connection.reset(
        WinHttpConnect(exchange.session.get(), kUpdateServerHost, kUpdateServerPort, 0));
    if (!exchange.connection) {
        return failed(FailureKind::System);
    }
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), L"GET", path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              WINHTTP_FLAG_SECURE));
    if (!exchange.request) {
        return failed(FailureKind::System);
    }
    if (!setRequestOptions(exchange.request.get())) {
        return failed(FailureKind::System);
    }
    if (const Failure failure = exchangeHeaders(exchange.request.get(), route, step, extraHeaders)) {
        return failure;
    }
    // An answer without a server certificate never came through TLS: a proxy
    // that refused the tunnel (403, 502) answered it, which is its status,
    // not another key.
    if (!hasServerCertificate(exchange.request.get())) {
        return {step, FailureKind::HttpStatus, queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE)};
    }
    if (!verifyServerKeyPin(exchange.request.get())) {
        return {step, FailureKind::PinRefused};
    }
    return {};
}
