#include "app/launcher.h"
#include "install/stop_application.h"

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

struct ImagePathCase {
    const wchar_t* imagePath;
    bool names;
};

TEST(ImagePathNamesApplication, IsThisOfficesFullPathInAnyLetterCase) {
    const ImagePathCase cases[] = {
        {L"C:\\Office\\NIRVA\\nirva_acc.exe", true},
        {L"c:\\OFFICE\\nirva\\NIRVA_ACC.EXE", true},
        {L"D:\\Other\\NIRVA\\nirva_acc.exe", false},
        {L"C:\\Office\\NIRVA\\old_nirva_acc.exe", false},
        {L"C:\\Office\\NIRVA\\nirva_acc.exe.old", false},
        {L"X:\\C:\\Office\\NIRVA\\nirva_acc.exe", false},
    };
    for (const ImagePathCase& c : cases) {
        EXPECT_EQ(imagePathNamesApplication(c.imagePath, L"C:\\Office\\NIRVA\\nirva_acc.exe"), c.names)
            << testing::PrintToString(std::wstring(c.imagePath));
    }
    EXPECT_FALSE(imagePathNamesApplication(L"", L"")) << "an office path that could not be formed names nothing";
}

}  // namespace
