#include "app/refused_release.h"

#include "common/file_system.h"
#include "common/layout.h"
#include "common/owned_handles.h"

#include <span>

namespace {

// Four numbers of ten digits and their dots, and one byte more, so that a
// longer file is not taken for a shorter one.
constexpr DWORD kMaxTextBytes = 4 * 10 + 3 + 1;

}  // namespace

std::optional<VersionNumber> readRefusedRelease() {
    const OwnedFileHandle file(CreateFileW(kRefusedReleaseFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string text(kMaxTextBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), kMaxTextBytes, &read, nullptr)) {
        return std::nullopt;
    }
    text.resize(read);
    return refusedReleaseFromText(text);
}

bool rememberRefusedRelease(const std::wstring& version) {
    const std::string text = refusedReleaseText(version);
    return writeWholeFile(kRefusedReleaseFile, std::as_bytes(std::span(text)));
}
