#pragma once

#include <string>

inline constexpr wchar_t kCheckPath[] = L"/api/marlix/check/NIRVA_ACC";

// The check endpoint's path for an installed version, sent unescaped.
std::wstring checkRequestPath(const std::wstring& installedVersion);

// UTF-8 to UTF-16; invalid sequences become U+FFFD rather than an error.
std::wstring decodeUtf8(const std::string& bytes);

// Asks the pinned update server which release is current. The body is
// emptied first and filled only on success.
bool fetchManifestText(std::wstring installedVersion, std::wstring& body);
