#include "net/request_path.h"

namespace {

// The search for the path's slash starts past "https://".
constexpr size_t kPathSearchStart = 8;

std::wstring crcText(std::uint32_t crc) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(8, L'0');
    for (size_t i = 8; i-- > 0; crc >>= 4) {
        text[i] = kDigits[crc & 15];
    }
    return text;
}

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

std::wstring reportRequestPath(std::string_view reportText, std::string_view officeId, std::string_view query) {
    std::wstring path = std::wstring(kReportPath) + L"/";
    path.append(reportText.begin(), reportText.end()).append(L"/").append(officeId.begin(), officeId.end());
    return path.append(query.begin(), query.end());
}

std::wstring patchRequestPath(const std::wstring& packagePath, std::uint32_t oldCrc, std::uint32_t newCrc) {
    return packagePath.substr(0, packagePath.find_first_of(L"?#")) + L".patches/" + crcText(oldCrc) + L"-" +
           crcText(newCrc);
}
