#include "net/request_path.h"

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
