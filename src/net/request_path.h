#pragma once

#include <string>

inline constexpr wchar_t kCheckPath[] = L"/api/marlix/check/NIRVA_ACC";

// The check endpoint's path for an installed version, sent unescaped.
std::wstring checkRequestPath(const std::wstring& installedVersion);

// Only the url's path is used: the package always comes from the pinned
// update server, whatever host the url names.
std::wstring packageRequestPath(const std::wstring& url);
