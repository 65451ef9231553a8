// The entry name rules against the table the release tool's tests read too
// (tests/vectors/entry_names/names.tsv), and the decoding of names as a zip
// stores them.
#include "archive/entry_name.h"
#include "vector_files.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// The table's words for the rules.
const std::map<std::wstring, NameProblem> kVerdicts = {
    {L"accepted", NameProblem::None},     {L"empty", NameProblem::Empty},
    {L"absolute", NameProblem::Absolute}, {L"backslash", NameProblem::Backslash},
    {L"dotfolder", NameProblem::DotFolder}, {L"parent", NameProblem::Parent},
    {L"drive", NameProblem::Drive},       {L"stream", NameProblem::Stream},
    {L"control", NameProblem::Control},   {L"character", NameProblem::Character},
    {L"trailing", NameProblem::TrailingDotOrSpace}, {L"device", NameProblem::Device},
    {L"collision", NameProblem::Collision},
};

// The names of a row: "|" between them, \uXXXX for one UTF-16 unit.
std::vector<std::wstring> rowNames(const std::wstring& field) {
    std::vector<std::wstring> names(1);
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == L'|') {
            names.emplace_back();
        } else if (field[i] == L'\\' && field.compare(i + 1, 1, L"u") == 0 && i + 6 <= field.size()) {
            names.back() += static_cast<wchar_t>(std::stoul(field.substr(i + 2, 4), nullptr, 16));
            i += 5;
        } else {
            names.back() += field[i];
        }
    }
    return names;
}

TEST(EntryNames, FollowTheSharedTable) {
    const auto rows = readVectorRows(L"entry_names\\names.tsv", 4);
    ASSERT_GE(rows.size(), 40u);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row[0]));
        ASSERT_EQ(kVerdicts.count(row[1]), 1u) << "unknown verdict";
        EXPECT_EQ(entryNamesProblem(rowNames(row[0])), kVerdicts.at(row[1]));
    }
}

struct DecodeCase {
    const char* what;
    std::string bytes;
    bool utf8;
    std::optional<std::wstring> name;
};

TEST(EntryNames, AreDecodedAsTheEntrySays) {
    const DecodeCase cases[] = {
        {"UTF-8 when flagged", "\xDA\xAF\xD8\xB2.txt", true, L"\u06AF\u0632.txt"},
        {"code page 437 otherwise", "caf\x82 \x81.txt", false, L"caf\u00E9 \u00FC.txt"},
        {"flagged but not UTF-8", "caf\x82.txt", true, std::nullopt},
        {"a UTF-8 surrogate", "a\xED\xA0\x80", true, std::nullopt},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(decodeEntryName(c.bytes, c.utf8), c.name) << c.what;
    }
}

ZipEntry entryNamed(std::string name, std::uint16_t flags) {
    ZipEntry entry;
    entry.name = std::move(name);
    entry.flags = flags;
    return entry;
}

TEST(EntryNames, BecomePathsUnderTheStagingFolder) {
    const EntryPaths paths = entryPaths({entryNamed("data/", 0), entryNamed("data/\xDA\xAF.txt", 0x0800),
                                         entryNamed("nirva_acc.exe", 0)});
    ASSERT_EQ(paths.problem, NameProblem::None);
    ASSERT_EQ(paths.paths.size(), 3u);
    EXPECT_EQ(paths.paths[0].path, L"data");
    EXPECT_TRUE(paths.paths[0].directory);
    EXPECT_EQ(paths.paths[1].path, L"data\\\u06AF.txt");
    EXPECT_FALSE(paths.paths[1].directory);
    EXPECT_EQ(paths.paths[2].path, L"nirva_acc.exe");
    // A name that is not what its flag says refuses the whole package.
    EXPECT_EQ(entryPaths({entryNamed("ok.txt", 0), entryNamed("\xFF.txt", 0x0800)}).problem,
              NameProblem::Undecodable);
    // A name in code page 437 meets the same rules.
    EXPECT_EQ(entryPaths({entryNamed("a\x81/nul.txt", 0)}).problem, NameProblem::Device);
}

}  // namespace
