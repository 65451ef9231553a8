#include "common/system_library_path.h"

namespace {

bool isDriveLetter(wchar_t character) {
    return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z');
}

bool isFullyQualified(std::wstring_view path) {
    const bool driveRoot = path.size() >= 3 && isDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
    const bool uncPath = path.size() >= 3 && path.starts_with(L"\\\\") && path[2] != L'\\';
    return driveRoot || uncPath;
}

}  // namespace

std::optional<std::wstring> systemLibraryPath(std::wstring_view systemDirectory, std::wstring_view name) {
    if (!isFullyQualified(systemDirectory)) {
        return std::nullopt;
    }
    std::wstring path(systemDirectory);
    if (!path.ends_with(L'\\')) {
        path += L'\\';
    }
    return path + std::wstring(name);
}
