#include "app/office_id.h"

#include "app/office_id_text.h"
#include "common/encoding.h"
#include "common/layout.h"
#include "common/owned_handles.h"

#include <array>
#include <cstdint>
#include <utility>

namespace {

std::string readOfficeIdFile() {
    const OwnedFileHandle file(CreateFileW(kOfficeIdFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    // One byte more than an id, so that a longer file is not taken for one.
    std::string text(kOfficeIdBytes * 2 + 1, '\0');
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
        return {};
    }
    text.resize(read);
    return text;
}

bool writeOfficeIdFile(const std::string& id) {
    const OwnedFileHandle file(CreateFileW(kOfficeIdFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), id.data(), static_cast<DWORD>(id.size()), &written, nullptr) &&
           written == id.size() && FlushFileBuffers(file.get());
}

}  // namespace

OfficeId loadOfficeId() {
    if (std::string kept = readOfficeIdFile(); isOfficeId(kept)) {
        return {std::move(kept), OfficeId::Source::Kept};
    }
    std::array<std::uint8_t, kOfficeIdBytes> random{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(random.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return {{}, OfficeId::Source::Unkept};
    }
    std::string id = lowercaseHex(random);
    const bool written = writeOfficeIdFile(id);
    return {std::move(id), written ? OfficeId::Source::New : OfficeId::Source::Unkept};
}
