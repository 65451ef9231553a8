#include "net/manifest_request.h"

#include "net/connection.h"
#include "net/request_path.h"
#include "net/route_decision.h"

#include <optional>

namespace {

constexpr DWORD kReadChunkSize = 8192;
// A manifest is under 2 KiB; anything this large is not one, and is not
// read into memory.
constexpr size_t kMaxManifestBytes = 1 << 20;

// The whole body or nothing: a body that breaks off or outgrows the cap is
// never taken for a shorter manifest.
std::optional<std::string> readWholeBody(HINTERNET request) {
    const DWORD announced = queryNumericHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (announced > kMaxManifestBytes) {
        return std::nullopt;
    }
    std::string body;
    char chunk[kReadChunkSize];
    for (;;) {
        DWORD bytesRead = 0;
        if (!WinHttpReadData(request, chunk, sizeof(chunk), &bytesRead)) {
            return std::nullopt;
        }
        if (bytesRead == 0) {
            break;
        }
        if (body.size() + bytesRead > kMaxManifestBytes) {
            return std::nullopt;
        }
        body.append(chunk, bytesRead);
    }
    if (body.size() < announced) {
        return std::nullopt;
    }
    return body;
}

bool sendCheckRequest(const std::wstring& path, NetworkRoute& route, PinnedExchange& exchange) {
    if (sendPinnedRequest(path, route, exchange)) {
        return true;
    }
    if (!shouldDiscoverProxy(route, GetLastError())) {
        return false;
    }
    exchange.request.reset();
    exchange.connection.reset();
    exchange.session.reset();
    const std::optional<NetworkRoute> discovered = discoverProxyRoute();
    if (!discovered) {
        return false;
    }
    route = *discovered;
    return sendPinnedRequest(path, route, exchange);
}

}  // namespace

bool fetchManifestText(std::wstring installedVersion, NetworkRoute& route, std::wstring& body) {
    body.clear();
    PinnedExchange exchange;
    if (!sendCheckRequest(checkRequestPath(installedVersion), route, exchange)) {
        return false;
    }
    if (queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != kHttpStatusOk) {
        return false;
    }
    const std::optional<std::string> bytes = readWholeBody(exchange.request.get());
    if (!bytes) {
        return false;
    }
    body = decodeUtf8(*bytes);
    return !body.empty();
}
