// Packages of one release folder made by other zip tools
// (tests/vectors/zip_tools/make_packages.py): the updater unpacks every one
// it accepts into the same files as the folder's, and refuses the others by
// the rule the table names, as the release tool's --check-package does.
#include "archive/entry_name.h"
#include "archive/zip_directory.h"
#include "common/file_system.h"
#include "install/extraction.h"
#include "vector_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

const std::map<std::wstring, NameProblem> kVerdicts = {
    {L"accepted", NameProblem::None},
    {L"unflagged", NameProblem::Unflagged},
};

// Every file and folder under root, by its relative path, with a file's content.
std::map<std::wstring, std::string> tree(const std::filesystem::path& root) {
    std::map<std::wstring, std::string> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        const std::wstring relative = item.path().lexically_relative(root).wstring();
        found[relative] = item.is_directory() ? "(folder)" : readVectorBytes(item.path().wstring());
    }
    return found;
}

TEST(ToolPackages, UnpackAsTheFolderWasOrAreRefusedByTheirRule) {
    const std::filesystem::path vectors = std::filesystem::path(NIRVA_VECTOR_DIR) / L"zip_tools";
    wchar_t temporary[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temporary), 0u);
    const std::filesystem::path work = std::filesystem::path(temporary) / L"nirva_tool_packages";
    std::optional<std::map<std::wstring, std::string>> first;
    const auto rows = readVectorRows(L"zip_tools\\packages.tsv", 3);
    ASSERT_GE(rows.size(), 8u);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row[0]));
        const std::wstring package = (vectors / (row[0] + L".zip")).wstring();
        const std::string zip = readVectorBytes(L"zip_tools\\" + row[0] + L".zip");
        const ZipTailReading reading =
            readZipTail({reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size()}, zip.size());
        ASSERT_TRUE(reading.directory);
        EXPECT_EQ(entryPaths(reading.directory->entries).problem, kVerdicts.at(row[1]));

        ASSERT_TRUE(removeTree(work.c_str()));
        const Failure failure = unpackPackage(package.c_str(), work.c_str(), FileFlush::NotFlushed, [](int) {});
        EXPECT_EQ(static_cast<bool>(failure), row[1] != L"accepted");
        if (!failure) {
            // Folders that a tool lists or leaves out are made either way.
            const auto unpacked = tree(work);
            EXPECT_EQ(unpacked.count(L"\u06AF\u0632\u0627\u0631\u0634\u200C\u0647\u0627\\\u0633\u0627\u0644 "
                                     L"\u06F1\u06F4\u06F0\u06F3.txt"), 1u);
            EXPECT_EQ(unpacked.size(), 5u);
            EXPECT_EQ(unpacked, first.value_or(unpacked));
            first = unpacked;
        }
    }
    removeTree(work.c_str());
}

}  // namespace
