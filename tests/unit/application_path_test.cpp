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

// Another path to the folder is recognised by the file's identity, and only
// by one that tells files apart.
TEST(ImageIsApplication, ThroughAnotherPathOnlyByAnIdentityThatTellsFilesApart) {
    const FileIdentity file{7, {1, 2}};
    const FileIdentity zeroId{7, {}};
    const FileIdentity zeroVolume{0, {1, 2}};
    const struct {
        std::optional<FileIdentity> image;
        std::optional<FileIdentity> application;
        bool is;
    } cases[] = {
        {file, file, true},
        {file, FileIdentity{7, {1, 3}}, false},
        {file, std::nullopt, false},
        {zeroId, zeroId, false},
        {zeroVolume, zeroVolume, true},
        {zeroVolume, FileIdentity{8, {1, 2}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(imageIsApplication(L"N:\\nirva\\NIRVA\\nirva_acc.exe", L"\\\\server\\nirva\\NIRVA\\nirva_acc.exe",
                                     c.image, c.application),
                  c.is);
    }
}

TEST(ImageIsInsideFolder, AtAnyDepthInAnyLetterCaseAndNothingBeside) {
    const std::tuple<const wchar_t*, bool> cases[] = {
        {L"C:\\Office\\NIRVA\\nirva_acc.exe", true},
        {L"c:\\office\\nirva\\bin\\tools\\PrintServer.EXE", true},
        {L"C:\\Office\\NIRVA.bak\\nirva_acc.exe", false},
        {L"C:\\Office\\NIRVA", false},
        {L"C:\\Office\\NIRVA\\", false},
        {L"D:\\Office\\NIRVA\\nirva_acc.exe", false},
    };
    for (const auto& [image, inside] : cases) {
        EXPECT_EQ(imageIsInsideFolder(image, L"C:\\Office\\NIRVA"), inside) << testing::PrintToString(std::wstring(image));
    }
}

// Only a program reached from another root may be the folder's through
// another path; its enclosing folders are what is compared then.
TEST(EnclosingFolders, NearestFirstDownToTheRootOfADriveOrAShare) {
    EXPECT_EQ(enclosingFolders(L"N:\\NIRVA\\bin\\helper.exe"),
              (std::vector<std::wstring>{L"N:\\NIRVA\\bin", L"N:\\NIRVA", L"N:\\"}));
    EXPECT_EQ(enclosingFolders(L"\\\\server\\nirva\\NIRVA\\x.exe"),
              (std::vector<std::wstring>{L"\\\\server\\nirva\\NIRVA", L"\\\\server\\nirva"}));
    EXPECT_EQ(enclosingFolders(L"relative\\x.exe"), std::vector<std::wstring>{});
    EXPECT_FALSE(mayBeInsideThroughAnotherPath(L"c:\\Windows\\explorer.exe", L"C:\\Office\\NIRVA"));
    EXPECT_TRUE(mayBeInsideThroughAnotherPath(L"N:\\NIRVA\\x.exe", L"C:\\Office\\NIRVA"));
    EXPECT_TRUE(mayBeInsideThroughAnotherPath(L"\\\\server\\nirva\\NIRVA\\x.exe", L"N:\\NIRVA"));
    EXPECT_FALSE(mayBeInsideThroughAnotherPath(L"\\\\SERVER\\Nirva\\x.exe", L"\\\\server\\nirva\\NIRVA"));
}

}  // namespace
