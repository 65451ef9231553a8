#pragma once

// Which file a path names, whatever the path: the same file reached through a
// mapped drive (N:\nirva) and through the server's share name
// (\\server\nirva) has one volume serial number and one file id.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct FileIdentity {
    std::uint64_t volume = 0;
    std::array<std::uint8_t, 16> id{};
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// None when the file cannot be opened or Windows cannot tell.
std::optional<FileIdentity> fileIdentity(const std::wstring& path);
