#include "common/file_identity.h"

#include "common/file_system.h"
#include "common/owned_handles.h"

#include <windows.h>

#include <cstring>

namespace {

// FILE_ID_INFO (Windows 8 and later; the headers of a Windows 7 build do not
// declare it): the whole 128-bit id that ReFS needs.
struct FileIdInfo {
    ULONGLONG volumeSerialNumber;
    BYTE fileId[16];
};
constexpr auto kFileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

}  // namespace

std::optional<FileIdentity> fileIdentity(const std::wstring& path) {
    const OwnedFileHandle file = openForIdentity(path.c_str());
    if (!file) {
        return std::nullopt;
    }
    FileIdentity identity;
    FileIdInfo full{};
    if (GetFileInformationByHandleEx(file.get(), kFileIdInfoClass, &full, sizeof(full))) {
        identity.volume = full.volumeSerialNumber;
        std::memcpy(identity.id.data(), full.fileId, identity.id.size());
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file.get(), &information)) {
        return std::nullopt;
    }
    identity.volume = information.dwVolumeSerialNumber;
    const std::uint64_t index = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    std::memcpy(identity.id.data(), &index, sizeof(index));
    return identity;
}
