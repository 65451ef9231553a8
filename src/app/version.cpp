#include "app/version.h"

#include "app/launcher.h"
#include "app/update_check.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

struct LanguageAndCodePage {
    WORD language;
    WORD codePage;
};

std::int32_t saturateToInt32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Anything at the path counts as present; an error other than "not found"
// (a folder the user may not read, say) is reported as unreadable rather
// than taken for an absent application.
enum class PathState { Absent, Present, Unreadable };

PathState applicationPathState() {
    std::error_code error;
    const bool exists = std::filesystem::exists(kApplicationExe, error);
    if (error) {
        return PathState::Unreadable;
    }
    return exists ? PathState::Present : PathState::Absent;
}

void showVersionReadFailure() {
    MessageBoxW(nullptr, kApplicationVersionReadFailureText, kErrorCaption, MB_ICONERROR | MB_OK);
}

}  // namespace

bool readProductVersion(const std::wstring& path) {
    DWORD ignoredHandle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignoredHandle);
    if (size == 0) {
        return false;
    }
    std::vector<BYTE> versionInfo(size, 0);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, versionInfo.data())) {
        return false;
    }
    void* translations = nullptr;
    UINT translationsBytes = 0;
    if (!VerQueryValueW(versionInfo.data(), L"\\VarFileInfo\\Translation", &translations,
                        &translationsBytes) ||
        translationsBytes < sizeof(LanguageAndCodePage)) {
        return false;
    }
    const auto* first = static_cast<const LanguageAndCodePage*>(translations);
    wchar_t subBlock[64];
    wsprintfW(subBlock, L"\\StringFileInfo\\%04x%04x\\ProductVersion", first->language,
              first->codePage);
    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueW(versionInfo.data(), subBlock, &value, &valueLength)) {
        return false;
    }
    updateRecord.installedVersion = static_cast<const wchar_t*>(value);
    return true;
}

bool readInstalledVersion() {
    switch (applicationPathState()) {
        case PathState::Absent:
            return false;
        case PathState::Present:
            if (readProductVersion(kApplicationExe)) {
                return true;
            }
            break;
        case PathState::Unreadable:
            break;
    }
    showVersionReadFailure();
    return false;
}

VersionNumber parseVersion(std::wstring text) {
    std::replace(text.begin(), text.end(), L'+', L'.');
    // Scanned as 64-bit and clamped, so that an oversized part saturates
    // instead of wrapping into a smaller, possibly negative, number.
    long long scanned[4] = {0, 0, 0, 0};
    std::swscanf(text.c_str(), L"%lld.%lld.%lld.%lld", &scanned[0], &scanned[1], &scanned[2],
                 &scanned[3]);
    VersionNumber version;
    for (size_t i = 0; i < version.parts.size(); ++i) {
        version.parts[i] = saturateToInt32(scanned[i]);
    }
    return version;
}

bool isNewerVersion(const VersionNumber& latest, const VersionNumber& installed) {
    return latest.parts > installed.parts;
}
