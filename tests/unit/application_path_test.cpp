#include "install/application_path.h"

#include <gtest/gtest.h>

namespace {

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
