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
    Empty,            // an empty name, or an empty folder name inside it ("a//b")
    Absolute,         // starts with a slash
    Backslash,        // Windows would split the name there
    DotFolder,        // a "." folder name
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

// A name as Windows will see it: UTF-8 when the entry's flags say so
// (general purpose bit 11), otherwise code page 437, as the zip format
// defines. Empty when the bytes are not what the flags say.
std::optional<std::wstring> decodeEntryName(std::string_view bytes, bool utf8);

// The rules of one name, in zip form ("/" between folders, a final "/" for
// a folder).
NameProblem entryNameProblem(std::wstring_view name);

// The rules of every name, then the names against each other: Windows
// compares names by upper-casing each UTF-16 unit with its own table, so two
// names that differ only there would land in one file or folder.
NameProblem entryNamesProblem(const std::vector<std::wstring>& names);

struct EntryPath {
    std::wstring path;  // relative, with backslashes, no final separator
    bool directory = false;
};

// Every entry's path under the staging folder, in the order of the entries,
// or the first problem of their names.
struct EntryPaths {
    NameProblem problem = NameProblem::None;
    std::vector<EntryPath> paths;
};
EntryPaths entryPaths(const std::vector<ZipEntry>& entries);
