#pragma once

// The rules of the test build's fault layer (common/file_system), which makes
// chosen file-system calls of the updater fail with chosen Windows errors, as
// only real Windows makes them fail: a file held by a virus scanner, a full
// disk, a folder the user may not write to. NIRVA_TEST_FAULTS holds rules
// separated by ";", each
//
//   operation:path:value[:times]
//
// - operation: open (for reading), create (a file or a folder, or a file
//   opened for writing), write, flush, move (by its source), delete,
//   identify (a file's identity), or holders (what the Restart Manager says
//   holds files under the path);
// - path: as the updater names it, relative to the office folder ("NIRVA",
//   "update", "nirva.zip.partial"), in any letter case; a call on the path or
//   on anything under it is covered, and "." covers what lies directly in the
//   office folder;
// - value: the Windows error in decimal; for holders, the id of a process
//   that the Restart Manager is taken to name;
// - times: "3" fails the first three covered calls, "1500ms" every covered
//   call for that long from the first, "always" (or nothing) every one.
//
// The release build has no fault layer; these rules are pure and tested on
// their own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class FaultOperation { Open, Create, Write, Flush, Move, Delete, Identify, Holders };

struct FaultRule {
    enum class Span { Always, Calls, Milliseconds };

    FaultOperation operation = FaultOperation::Open;
    std::wstring path;
    std::uint32_t value = 0;
    Span span = Span::Always;
    // Calls or milliseconds, as the span says.
    std::uint32_t amount = 0;

    friend bool operator==(const FaultRule&, const FaultRule&) = default;
};

// The operation as a rule names it.
std::wstring_view faultOperationName(FaultOperation operation);

// None when any rule is malformed: a test's typo must not pass as no fault.
std::optional<std::vector<FaultRule>> parseFaultRules(std::wstring_view text);

// Whether the rule covers a call of that operation on the path, given
// relative to the office folder (officeRelativePath).
bool faultRuleCovers(const FaultRule& rule, FaultOperation operation, std::wstring_view path);

// A full path as the office folder's relative name ("." for the folder
// itself); a path outside the folder is returned as it is.
std::wstring officeRelativePath(std::wstring_view fullPath, std::wstring_view officeFolder);
