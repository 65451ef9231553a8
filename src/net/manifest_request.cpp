#include "net/manifest_request.h"

#include "net/connection.h"

#include <climits>

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

std::wstring checkRequestPath(const std::wstring& installedVersion) {
    return std::wstring(kCheckPath) + L"/" + installedVersion;
}

std::wstring decodeUtf8(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) {
        return {};
    }
    const int byteCount = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), byteCount, text.data(), length);
    return text;
}

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
