#include "app/installed_version.h"

#include "common/file_system.h"
#include "common/layout.h"

#include <windows.h>

#include <vector>

namespace {

struct LanguageAndCodePage {
    WORD language;
    WORD codePage;
};

}  // namespace

std::optional<std::wstring> readProductVersion(const wchar_t* path) {
    DWORD ignoredHandle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignoredHandle);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<BYTE> versionInfo(size, 0);
    if (!GetFileVersionInfoW(path, 0, size, versionInfo.data())) {
        return std::nullopt;
    }
    void* translations = nullptr;
    UINT translationsBytes = 0;
    if (!VerQueryValueW(versionInfo.data(), L"\\VarFileInfo\\Translation", &translations,
                        &translationsBytes) ||
        translationsBytes < sizeof(LanguageAndCodePage)) {
        return std::nullopt;
    }
    const auto* first = static_cast<const LanguageAndCodePage*>(translations);
    wchar_t subBlock[64];
    wsprintfW(subBlock, L"\\StringFileInfo\\%04x%04x\\ProductVersion", first->language,
              first->codePage);
    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueW(versionInfo.data(), subBlock, &value, &valueLength)) {
        return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

InstalledVersion readInstalledVersion() {
    switch (pathState(kApplicationExe)) {
        case PathState::Absent:
            return {};
        case PathState::Present:
            if (auto version = readProductVersion(kApplicationExe)) {
                return {false, std::move(*version)};
            }
            break;
        case PathState::Unreadable:
            break;
    }
    return {true, {}};
}
