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

ZipEntry entryNamed(std::string name, std::uint16_t flags, std::optional<std::string> unicodePath = {}) {
    ZipEntry entry;
    entry.name = std::move(name);
    entry.flags = flags;
    entry.unicodePath = std::move(unicodePath);
    return entry;
}

struct NameDecodeCase {
    const char* what;
    ZipEntry entry;
    EntryNameText text;
};

TEST(EntryNames, AreDecodedAsTheEntrySays) {
    const NameDecodeCase cases[] = {
        {"UTF-8 when flagged", entryNamed("\xDA\xAF\xD8\xB2.txt", 0x0800), {NameProblem::None, L"\u06AF\u0632.txt"}},
        {"ASCII without the flag", entryNamed("data/a.txt", 0), {NameProblem::None, L"data/a.txt"}},
        {"other bytes without the flag", entryNamed("\xDA\xAF.txt", 0), {NameProblem::Unflagged, L""}},
        {"code page 437 is no longer guessed", entryNamed("caf\x82.txt", 0), {NameProblem::Unflagged, L""}},
        {"the Unicode path field's name", entryNamed("?.txt", 0, "\xDA\xAF.txt"), {NameProblem::None, L"\u06AF.txt"}},
        {"the flag before the field", entryNamed("a.txt", 0x0800, "b.txt"), {NameProblem::None, L"a.txt"}},
        {"a field that is not UTF-8", entryNamed("\x82.txt", 0, "\x82.txt"), {NameProblem::Undecodable, L""}},
        {"flagged but not UTF-8", entryNamed("caf\x82.txt", 0x0800), {NameProblem::Undecodable, L""}},
        {"a UTF-8 surrogate", entryNamed("a\xED\xA0\x80", 0x0800), {NameProblem::Undecodable, L""}},
    };
    for (const NameDecodeCase& c : cases) {
        const EntryNameText text = entryNameText(c.entry);
        EXPECT_EQ(text.problem, c.text.problem) << c.what;
        EXPECT_EQ(text.name, c.text.name) << c.what;
    }
}

TEST(EntryNames, BecomePathsUnderTheStagingFolder) {
    const EntryPaths paths = entryPaths({entryNamed("./", 0), entryNamed("./data/", 0),
                                         entryNamed("data/./\xDA\xAF.txt", 0x0800), entryNamed("nirva_acc.exe", 0)});
    ASSERT_EQ(paths.problem, NameProblem::None);
    ASSERT_EQ(paths.paths.size(), 4u);
    // "./" is the staging folder itself; the other "." folders are dropped.
    EXPECT_EQ(paths.paths[0].path, L"");
    EXPECT_TRUE(paths.paths[0].directory);
    EXPECT_EQ(paths.paths[1].path, L"data");
    EXPECT_TRUE(paths.paths[1].directory);
    EXPECT_EQ(paths.paths[2].path, L"data\\\u06AF.txt");
    EXPECT_FALSE(paths.paths[2].directory);
    EXPECT_EQ(paths.paths[3].path, L"nirva_acc.exe");
    // A name that is not what its flag says refuses the whole package, and so does one without a flag.
    EXPECT_EQ(entryPaths({entryNamed("ok.txt", 0), entryNamed("\xFF.txt", 0x0800)}).problem,
              NameProblem::Undecodable);
    EXPECT_EQ(entryPaths({entryNamed("ok.txt", 0), entryNamed("\xDA\xAF.txt", 0)}).problem, NameProblem::Unflagged);
    // A name from the Unicode path field meets the same rules.
    EXPECT_EQ(entryPaths({entryNamed("a?/nul.txt", 0, "a\xDA\xAF/nul.txt")}).problem, NameProblem::Device);
}

}  // namespace
