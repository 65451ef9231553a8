#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr wchar_t kProgressPercentPiece[] = L"%   سرعت دانلود: ";
inline constexpr wchar_t kProgressSpeedPiece[] = L" KB/s   زمان باقی مانده: ";
inline constexpr wchar_t kProgressSecondsPiece[] = L" ثانیه";

struct DownloadProgress {
    std::int32_t percentage = 0;
    std::int32_t kilobytesPerSecond = 0;
    std::int32_t remainingSeconds = 0;
};

using Sha256Digest = std::array<unsigned char, 32>;

// Only the url's path is used: the package always comes from the pinned
// update server, whatever host the url names.
std::wstring packageRequestPath(const std::wstring& url);

// Average speed since the start; percentage 0 when no length was announced.
DownloadProgress computeProgress(std::uint32_t received, std::uint32_t announced, double elapsedSeconds);
std::wstring progressText(const DownloadProgress& progress);

// Hands the progress text to the window with WM_UPDATE_PROGRESS. When the post
// fails the text is freed here, so a closed window leaks nothing.
bool postProgress(HWND window, const DownloadProgress& progress);

// The manifest's digest when it is 64 hexadecimal digits; otherwise none,
// and the package is taken without comparison.
std::optional<Sha256Digest> parseSha256(const std::wstring& hex);

// Streams the package to the target file in up to three attempts, posting
// WM_UPDATE_PROGRESS after every chunk. An attempt fails unless the whole
// announced body reached the disk and matched the expected digest.
bool downloadPackage(const std::wstring& url, const std::wstring& targetPath, HWND window,
                     const std::optional<Sha256Digest>& expectedDigest);
