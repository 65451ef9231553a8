#pragma once

#include <cstdint>
#include <string>

struct DownloadProgress {
    std::int32_t percentage = 0;
    std::int32_t kilobytesPerSecond = 0;
    std::int32_t remainingSeconds = 0;
};

// Average speed since the start; percentage 0 when no length was announced.
DownloadProgress computeProgress(std::uint32_t received, std::uint32_t announced, double elapsedSeconds);
std::wstring progressText(const DownloadProgress& progress);
