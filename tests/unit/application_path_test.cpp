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

// A process of the start lies in the application's folder at any depth, and
// reached through another path to the folder, by a folder's identity.
TEST(ImageLiesInFolder, AtAnyDepthByThePathOrByAFoldersIdentity) {
    EXPECT_EQ(foldersAbove(L"C:\\Office\\NIRVA\\bin\\x.exe"),
              (std::vector<std::wstring>{L"C:\\Office\\NIRVA\\bin", L"C:\\Office\\NIRVA", L"C:\\Office"}));
    EXPECT_EQ(foldersAbove(L"\\\\server\\nirva\\NIRVA\\x.exe"),
              (std::vector<std::wstring>{L"\\\\server\\nirva\\NIRVA", L"\\\\server\\nirva"}));
    const FileIdentity folder{7, {1, 2}};
    const std::optional<FileIdentity> other = FileIdentity{7, {1, 3}};
    const struct {
        const wchar_t* image;
        std::vector<std::optional<FileIdentity>> above;
        bool lies;
    } cases[] = {
        {L"C:\\Office\\NIRVA\\nirva_acc.exe", {}, true},
        {L"c:\\office\\nirva\\bin\\real.exe", {}, true},
        {L"C:\\Office\\NIRVA.bak\\nirva_acc.exe", {other, other}, false},
        {L"C:\\Office\\NIRVA", {other}, false},
        {L"C:\\Office\\NIRVA\\", {}, false},
        {L"N:\\NIRVA\\bin\\real.exe", {other, folder, other}, true},
        {L"N:\\NIRVA\\bin\\real.exe", {other, std::nullopt, other}, false},
        {L"N:\\NIRVA\\real.exe", {FileIdentity{7, {}}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(imageLiesInFolder(c.image, L"C:\\Office\\NIRVA", c.above, folder), c.lies)
            << testing::PrintToString(std::wstring(c.image));
    }
    const std::vector<std::optional<FileIdentity>> zeroId{FileIdentity{7, {}}};
    EXPECT_FALSE(imageLiesInFolder(L"N:\\NIRVA\\x.exe", L"C:\\Office\\NIRVA", zeroId, FileIdentity{7, {}}))
        << "a file id of zero identifies nothing";
}

}  // namespace
