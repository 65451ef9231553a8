#include "net/connection.h"

#include "net/session_protocols.h"

#include <algorithm>

namespace {

constexpr DWORD kDownloadResolveTimeoutMs = 5000;
constexpr DWORD kDownloadConnectTimeoutMs = 5000;
constexpr DWORD kDownloadSendTimeoutMs = 30000;
constexpr DWORD kDownloadReceiveTimeoutMs = 30000;
// An outcome report is worth little against the run's time: about 3 s.
constexpr int kReportPhaseTimeoutMs = 3000;

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
    if (step == FailureStep::Download) {
        WinHttpSetTimeouts(session, kDownloadResolveTimeoutMs, kDownloadConnectTimeoutMs, kDownloadSendTimeoutMs,
                           kDownloadReceiveTimeoutMs);
    } else if (step == FailureStep::Report) {
        WinHttpSetTimeouts(session, kReportPhaseTimeoutMs, kReportPhaseTimeoutMs, kReportPhaseTimeoutMs,
                           kReportPhaseTimeoutMs);
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

Failure sendPinnedRequest(const std::wstring& path, FailureStep step, PinnedExchange& exchange,
                          const std::wstring& extraHeaders) {
    const auto failed = [step](FailureKind kind) { return Failure{step, kind, 0, GetLastError()}; };
    exchange.session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
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
    const bool withHeaders = !extraHeaders.empty();
    if (!WinHttpSendRequest(exchange.request.get(), withHeaders ? extraHeaders.c_str() : WINHTTP_NO_ADDITIONAL_HEADERS,
                            withHeaders ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(exchange.request.get(), nullptr)) {
        return failed(FailureKind::Unreachable);
    }
    if (!verifyServerKeyPin(exchange.request.get())) {
        return {step, FailureKind::PinRefused};
    }
    return {};
}
