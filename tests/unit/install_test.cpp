#include "install/installation.h"
#include "install/stop_application.h"

#include <gtest/gtest.h>

namespace {

TEST(ExtractionCommandLine, IsTheExactPowerShellCommand) {
    EXPECT_EQ(extractionCommandLine(L"nirva.zip", L"update"),
              L"powershell -NoLogo -NoProfile -ExecutionPolicy Bypass -Command "
              L"\"Expand-Archive -Force 'nirva.zip' 'update'\"");
    EXPECT_EQ(extractionCommandLine(L"a b.zip", L"c d"),
              L"powershell -NoLogo -NoProfile -ExecutionPolicy Bypass -Command "
              L"\"Expand-Archive -Force 'a b.zip' 'c d'\"");
}

TEST(SystemPowerShellPath, LiesUnderTheSystemDirectory) {
    wchar_t systemDirectory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(systemPowerShellPath(),
              std::wstring(systemDirectory, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe");
}

struct ImagePathCase {
    const wchar_t* imagePath;
    bool names;
};

TEST(ImagePathNamesApplication, MatchesTheNameAnywhereWithItsExactCase) {
    const ImagePathCase cases[] = {
        {L"C:\\Office\\NIRVA\\nirva_acc.exe", true},
        {L"C:\\Office\\NIRVA\\old_nirva_acc.exe", true},
        {L"C:\\Office\\NIRVA\\NIRVA_ACC.EXE", false},
        {L"C:\\Office\\nirva_updater.exe", false},
        {L"nirva_acc.ex", false},
    };
    for (const ImagePathCase& c : cases) {
        EXPECT_EQ(imagePathNamesApplication(c.imagePath, L"nirva_acc.exe"), c.names)
            << testing::PrintToString(std::wstring(c.imagePath));
    }
}

}  // namespace
