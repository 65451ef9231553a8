#include "net/manifest_request.h"

#include "common/encoding.h"
#include "net/connection.h"
#include "net/request_path.h"
#include "net/route_decision.h"

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

Failure sendCheckRequest(const std::wstring& path, NetworkRoute& route, PinnedExchange& exchange) {
    const Failure failure = sendPinnedRequest(path, route, FailureStep::Check, exchange);
    if (!failure || !shouldDiscoverProxy(route, failure.systemError)) {
        return failure;
    }
    exchange.request.reset();
    exchange.connection.reset();
    exchange.session.reset();
    const std::optional<NetworkRoute> discovered = discoverProxyRoute();
    if (!discovered) {
        return failure;
    }
    route = *discovered;
    return sendPinnedRequest(path, route, FailureStep::Check, exchange);
}

}  // namespace

Failure fetchManifestText(const std::wstring& installedVersion, NetworkRoute& route, std::wstring& body,
                          ExchangeSummary& summary) {
    body.clear();
    summary = {};
    PinnedExchange exchange;
    if (const Failure failure = sendCheckRequest(checkRequestPath(installedVersion), route, exchange)) {
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
