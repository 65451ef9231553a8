#pragma once

// The names a package's entries may have. Every name is checked before
// anything is unpacked: a name Windows would read as something else (a
// device, a stream, a folder above the staging folder) or would take for
// another entry's name would put files where the package does not say, or
// leave a release that is not the one published. The release tool refuses
// the same names (tests/vectors/entry_names holds the table both follow).

#include "archive/zip_directory.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Why a name is refused, for the first rule it breaks.
enum class NameProblem : std::uint8_t {
    None,
    Undecodable,      // not valid UTF-8 although the entry says it is
    Unflagged,        // bytes over 0x7F without the UTF-8 flag and without a
                      // Unicode path field for them: no code page is right
                      // for every tool (Info-ZIP on Linux writes UTF-8 so,
                      // old Windows tools the PC's code page)
    Empty,            // an empty name, or an empty folder name inside it ("a//b")
    Absolute,         // starts with a slash
    Backslash,        // Windows would split the name there
    DotFolder,        // a file named ".", which is the folder it is in
    Parent,           // a ".." folder name
    Drive,            // starts with a drive ("C:")
    Stream,           // a colon: Windows would write an alternate data stream
    Control,          // a control character
    Character,        // one of < > " | ? *
    TrailingDotOrSpace,  // Windows drops them, so the file gets another name
    Device,           // a device name, with any extension and in any case
    Collision,        // the same file or folder as another name once Windows
                      // folds the letter case, or a file where a folder is
};

// An entry's name as Windows will see it: UTF-8 when the entry's flags say
// so (general purpose bit 11); else the Unicode path extra field's, when
// one vouches for the name; else the name itself when it is ASCII. A name
// with other bytes is refused rather than guessed at: the zip format says
// code page 437, which no tool that writes such names means any more.
struct EntryNameText {
    NameProblem problem = NameProblem::None;  // Undecodable or Unflagged
    std::wstring name;
};
EntryNameText entryNameText(const ZipEntry& entry);

// The rules of one name, in zip form ("/" between folders, a final "/" for
// a folder). A "." folder names the folder it is in and climbs nowhere:
// "./a" is "a" and "a/./b" is "a/b" (archivers run on "." write every name
// so), and a folder entry "./" is the staging folder itself.
NameProblem entryNameProblem(std::wstring_view name);

// The rules of every name, then the names against each other: Windows
// compares names by upper-casing each UTF-16 unit with its own table, so two
// names that differ only there would land in one file or folder.
NameProblem entryNamesProblem(const std::vector<std::wstring>& names);

struct EntryPath {
    std::wstring path;  // relative, with backslashes, no final separator; empty for the staging folder
    bool directory = false;
};

// Every entry's path under the staging folder, in the order of the entries,
// or the first problem of their names.
struct EntryPaths {
    NameProblem problem = NameProblem::None;
    std::vector<EntryPath> paths;
};
EntryPaths entryPaths(const std::vector<ZipEntry>& entries);
