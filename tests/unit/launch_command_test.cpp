#include "app/launch_command.h"

#include <gtest/gtest.h>

namespace {

struct WorkingDirectoryCase {
    const wchar_t* path;
    const wchar_t* directory;
};

TEST(ApplicationWorkingDirectory, IsThePathUpToItsLastSeparator) {
    const WorkingDirectoryCase cases[] = {
        {L"NIRVA\\nirva_acc.exe", L"NIRVA"},
        {L"NIRVA/nirva_acc.exe", L"NIRVA"},
        {L"a/b\\c.exe", L"a/b"},
        {L"a\\b/c.exe", L"a\\b"},
        {L"nirva_acc.exe", L""},
        {L"\\nirva_acc.exe", L""},
        {L"D:\\nirva_acc.exe", L"D:"},
        {L"", L""},
    };
    for (const WorkingDirectoryCase& c : cases) {
        EXPECT_EQ(applicationWorkingDirectory(c.path), c.directory)
            << "path: " << testing::PrintToString(std::wstring(c.path));
    }
}

}  // namespace
