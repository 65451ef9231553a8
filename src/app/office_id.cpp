#include "app/office_id.h"

#include "app/office_id_text.h"
#include "common/encoding.h"
#include "common/file_system.h"
#include "common/layout.h"
#include "common/owned_handles.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>

namespace {

// The file's text; empty when there is no file. None when there is one that
// cannot be read now (held by another program, a share that reconnects):
// the office's id may be in it, and is not to be overwritten.
std::optional<std::string> readOfficeIdFile() {
    const OwnedFileHandle file = openFile(kOfficeIdFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? std::optional<std::string>(std::string()) : std::nullopt;
    }
    // One byte more than an id, so that a longer file is not taken for one.
    std::string text(kOfficeIdBytes * 2 + 1, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
        return std::nullopt;
    }
    text.resize(read);
    return text;
}

}  // namespace

OfficeId loadOfficeId() {
    std::optional<std::string> kept = readOfficeIdFile();
    if (kept && isOfficeId(*kept)) {
        return {std::move(*kept), OfficeId::Source::Kept};
    }
    std::array<std::uint8_t, kOfficeIdBytes> random{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return {{}, OfficeId::Source::Unkept};
    }
    std::string id = lowercaseHex(random);
    // A missing or malformed file gets the new id; one that could not be read
    // keeps what it holds, and this run has an id of its own.
    const bool written = kept && writeWholeFile(kOfficeIdFile, std::as_bytes(std::span(id)));
    return {std::move(id), written ? OfficeId::Source::New : OfficeId::Source::Unkept};
}
