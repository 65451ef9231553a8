#include "net/manifest_request.h"

#include "net/connection.h"
#include "net/request_path.h"

namespace {

constexpr DWORD kReadChunkSize = 8192;

// A failed read ends the body like its end does: the part received is used.
std::string readWholeBody(HINTERNET request) {
    std::string body;
    char chunk[kReadChunkSize];
    DWORD bytesRead = 0;
    while (WinHttpReadData(request, chunk, sizeof(chunk), &bytesRead) && bytesRead > 0) {
        body.append(chunk, bytesRead);
    }
    return body;
}

}  // namespace

bool fetchManifestText(std::wstring installedVersion, std::wstring& body) {
    body.clear();
    PinnedExchange exchange;
    if (!sendPinnedRequest(checkRequestPath(installedVersion), Timeouts::PlatformDefault, exchange)) {
        return false;
    }
    if (queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != kHttpStatusOk) {
        return false;
    }
    body = decodeUtf8(readWholeBody(exchange.request.get()));
    return !body.empty();
}
