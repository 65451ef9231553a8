#include "app/refused_release_text.h"

#include <charconv>
#include <cstdint>

std::string refusedReleaseText(const std::wstring& version) {
    std::string text;
    for (const std::int32_t part : parseVersion(version).parts) {
        text.append(text.empty() ? "" : ".").append(std::to_string(part));
    }
    return text;
}

std::optional<VersionNumber> refusedReleaseFromText(std::string_view text) {
    VersionNumber version;
    for (size_t index = 0; index < version.parts.size(); ++index) {
        const bool last = index + 1 == version.parts.size();
        const size_t end = last ? text.size() : text.find('.');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view digits = text.substr(0, end);
        std::int32_t part = 0;
        const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), part);
        // from_chars takes a sign, which no part of a version has.
        if (digits.empty() || digits.front() == '-' || error != std::errc{} || stop != digits.data() + digits.size()) {
            return std::nullopt;
        }
        version.parts[index] = part;
        text.remove_prefix(last ? end : end + 1);
    }
    return version;
}

bool isRefusedRelease(const std::wstring& offered, const std::optional<VersionNumber>& refused) {
    return refused && parseVersion(offered).parts == refused->parts;
}
