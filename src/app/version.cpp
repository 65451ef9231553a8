#include "app/version.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

std::int32_t saturateToInt32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

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

std::wstring normalizedInstalledVersion(std::wstring version) {
    if (version.empty()) {
        version = kDefaultInstalledVersion;
    }
    std::replace(version.begin(), version.end(), L'+', L'.');
    return version;
}
