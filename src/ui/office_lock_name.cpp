#include "ui/office_lock_name.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <iterator>

std::wstring officeLockName(const std::wstring& officeFolder) {
    std::wstring folded = officeFolder;
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, officeFolder.c_str(), static_cast<int>(officeFolder.size()),
                  folded.data(), static_cast<int>(folded.size()), nullptr, nullptr, 0);
    // 64-bit FNV-1a over the UTF-16 code units.
    std::uint64_t digest = 14695981039346656037ull;
    for (const wchar_t unit : folded) {
        digest = (digest ^ static_cast<std::uint16_t>(unit)) * 1099511628211ull;
    }
    wchar_t name[64];
    std::swprintf(name, std::size(name), L"Global\\NIRVAUpdater-%016llx", static_cast<unsigned long long>(digest));
    return name;
}

OfficeLockHolder decideOfficeLockHolder(LockFileState file, LockMutexState mutex) {
    if (file == LockFileState::Opened) {
        return OfficeLockHolder::Nobody;
    }
    switch (mutex) {
        case LockMutexState::Existing:
            return OfficeLockHolder::ThisComputer;
        case LockMutexState::OtherSession:
            return OfficeLockHolder::Elsewhere;
        case LockMutexState::Created:
            break;
    }
    return file == LockFileState::HeldByAnother ? OfficeLockHolder::Elsewhere : OfficeLockHolder::Nobody;
}
