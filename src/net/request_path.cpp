#include "net/request_path.h"

#include <windows.h>

#include <climits>

namespace {

// The search for the path's slash starts past "https://".
constexpr size_t kPathSearchStart = 8;

}  // namespace

std::wstring checkRequestPath(const std::wstring& installedVersion) {
    return std::wstring(kCheckPath) + L"/" + installedVersion;
}

std::wstring packageRequestPath(const std::wstring& url) {
    if (url.size() > kPathSearchStart) {
        const size_t slash = url.find(L'/', kPathSearchStart);
        if (slash != std::wstring::npos) {
            return url.substr(slash);
        }
    }
    return L"/";
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
