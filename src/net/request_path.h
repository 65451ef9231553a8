#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr wchar_t kCheckPath[] = L"/api/marlix/check/NIRVA_ACC";
inline constexpr wchar_t kReportPath[] = L"/api/marlix/report/NIRVA_ACC";

// The check endpoint's path for an installed version, sent unescaped.
std::wstring checkRequestPath(const std::wstring& installedVersion);

// Only the url's path is used: the package always comes from the pinned
// update server, whatever host the url names.
std::wstring packageRequestPath(const std::wstring& url);

// An outcome report's path: the report's text (update/outcome_report.h,
// ASCII), the office id, then the report's query (ASCII, may be empty).
std::wstring reportRequestPath(std::string_view reportText, std::string_view officeId, std::string_view query);

// Where the release tool puts the patch from an entry whose CRC-32 is oldCrc
// to one whose CRC-32 is newCrc: beside the package, at
// <package path>.patches/<old crc>-<new crc>, in 8 lowercase hex digits each.
// A query or fragment of the package's url is not part of the folder's name.
std::wstring patchRequestPath(const std::wstring& packagePath, std::uint32_t oldCrc, std::uint32_t newCrc);
