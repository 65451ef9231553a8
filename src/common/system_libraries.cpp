#include "common/system_libraries.h"

#include "common/system_library_path.h"

#include <windows.h>

#include <array>

namespace {

constexpr std::array kSystemLibraries = {L"version.dll", L"bcrypt.dll", L"crypt32.dll", L"winhttp.dll",
                                         L"gdi32.dll",   L"user32.dll", L"comctl32.dll"};

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The test build can act as a Windows 7 without the update, to prove that
// the other way keeps planted DLLs out too.
bool pretendingWithoutDefaultDllDirectories() {
#ifdef NIRVA_DLL_SEARCH_SWITCH
    return GetEnvironmentVariableW(L"NIRVA_WITHOUT_SET_DEFAULT_DLL_DIRECTORIES", nullptr, 0) > 0;
#else
    return false;
#endif
}

// Windows 8 and later have SetDefaultDllDirectories, and so has Windows 7
// SP1 with KB2533623 (2011). It is looked up, not imported: Windows refuses
// to start a program that imports a function it lacks. Once it has taken the
// flag, every later search, a system DLL's own by-name loads included, is
// limited to the system directory.
bool limitSearchToSystemDirectory() {
    if (pretendingWithoutDefaultDllDirectories()) {
        return false;
    }
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    return setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool loadFromLimitedSearch() {
    for (const wchar_t* name : kSystemLibraries) {
        if (LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr) {
            return false;
        }
    }
    return true;
}

// Windows 7 without that update, or a system that refuses the flag: each DLL
// by its full path in the system directory. With the altered search path,
// the DLLs each of them imports are looked for in that directory too, not in
// the program's folder. What this cannot settle is a DLL that a system DLL
// loads later by its name alone: Windows looks for that one in the office
// folder first. Only KB2533623 (or a newer Windows) closes that.
bool loadOneByFullPath(const wchar_t* name) {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    const auto path = systemLibraryPath({directory, length}, name);
    return path && LoadLibraryExW(path->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr;
}

bool loadByFullPath() {
    for (const wchar_t* name : kSystemLibraries) {
        if (!loadOneByFullPath(name)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool loadSystemLibraries() {
    return limitSearchToSystemDirectory() ? loadFromLimitedSearch() : loadByFullPath();
}

bool loadSystemLibrary(const wchar_t* name) {
    return loadOneByFullPath(name);
}
