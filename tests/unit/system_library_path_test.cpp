#include "common/system_library_path.h"

#include <gtest/gtest.h>

namespace {

struct LibraryPathCase {
    const wchar_t* systemDirectory;
    std::optional<std::wstring> path;
};

TEST(SystemLibraryPath, JoinsOnlyAFullyQualifiedDirectory) {
    const LibraryPathCase cases[] = {
        {L"C:\\Windows\\system32", L"C:\\Windows\\system32\\winhttp.dll"},
        {L"D:\\WINNT\\System32\\", L"D:\\WINNT\\System32\\winhttp.dll"},
        {L"c:\\", L"c:\\winhttp.dll"},
        {L"\\\\?\\C:\\Windows\\system32", L"\\\\?\\C:\\Windows\\system32\\winhttp.dll"},
        {L"\\\\server\\share\\system32", L"\\\\server\\share\\system32\\winhttp.dll"},
        // GetSystemDirectoryW failed.
        {L"", std::nullopt},
        // Each of these would be resolved against the current folder or searched for.
        {L"system32", std::nullopt},
        {L"C:system32", std::nullopt},
        {L"C:", std::nullopt},
        {L"\\Windows\\system32", std::nullopt},
        {L"\\\\\\share", std::nullopt},
        {L"1:\\Windows", std::nullopt},
    };
    for (const LibraryPathCase& c : cases) {
        EXPECT_EQ(systemLibraryPath(c.systemDirectory, L"winhttp.dll"), c.path)
            << "directory: " << testing::PrintToString(std::wstring(c.systemDirectory));
    }
}

}  // namespace
