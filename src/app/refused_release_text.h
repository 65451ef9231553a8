#pragma once

// The release an office refuses: the latest one whose first start failed and
// was taken back. The office folder keeps it (kRefusedReleaseFile) as the
// version's four dotted numbers, so that the same offer is not installed
// again, while any other release, the vendor's fix among them, still is.

#include "app/version.h"

#include <optional>
#include <string>
#include <string_view>

// "a.b.c.d", the version's numbers, as the file keeps them.
std::string refusedReleaseText(const std::wstring& version);

// The release the file's text names; none unless it is exactly four dotted
// whole numbers that fit a version's parts. A damaged file refuses nothing:
// it must never keep an office from every release.
std::optional<VersionNumber> refusedReleaseFromText(std::string_view text);

// An offer of exactly the refused release, part by part.
bool isRefusedRelease(const std::wstring& offered, const std::optional<VersionNumber>& refused);
