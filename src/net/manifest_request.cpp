#include "net/manifest_request.h"

#include "common/encoding.h"
#include "net/connection.h"
#include "net/request_path.h"

#include <string>

namespace {

constexpr DWORD kReadChunkSize = 8192;
// A manifest is under 2 KiB; anything this large is not one, and is not
// read into memory.
constexpr size_t kMaxManifestBytes = 1 << 20;

constexpr Failure kBadAnswer{FailureStep::Check, FailureKind::BadAnswer};

// The whole body or nothing: a body that breaks off or outgrows the cap is
// never taken for a shorter manifest.
Failure readWholeBody(HINTERNET request, std::string& body) {
    const DWORD announced = queryNumericHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (announced > kMaxManifestBytes) {
        return kBadAnswer;
    }
    char chunk[kReadChunkSize];
    for (;;) {
        DWORD bytesRead = 0;
        if (!WinHttpReadData(request, chunk, sizeof(chunk), &bytesRead)) {
            return {FailureStep::Check, FailureKind::Unreachable, 0, GetLastError()};
        }
        if (bytesRead == 0) {
            break;
        }
        if (body.size() + bytesRead > kMaxManifestBytes) {
            return kBadAnswer;
        }
        body.append(chunk, bytesRead);
    }
    return body.size() < announced ? kBadAnswer : Failure{};
}

}  // namespace

Failure fetchManifestText(const std::wstring& installedVersion, std::wstring& body, ExchangeSummary& summary) {
    body.clear();
    summary = {};
    PinnedExchange exchange;
    if (const Failure failure = sendPinnedRequest(checkRequestPath(installedVersion), FailureStep::Check, exchange)) {
        return failure;
    }
    summary.status = queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE);
    if (summary.status != kHttpStatusOk) {
        return {FailureStep::Check, FailureKind::HttpStatus, summary.status};
    }
    std::string bytes;
    const Failure failure = readWholeBody(exchange.request.get(), bytes);
    summary.bytes = bytes.size();
    if (failure) {
        return failure;
    }
    body = decodeUtf8(bytes);
    return body.empty() ? kBadAnswer : Failure{};
}
