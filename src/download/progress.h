#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct DownloadProgress {
    std::int32_t percentage = 0;
    std::int32_t kilobytesPerSecond = 0;
    std::int32_t remainingSeconds = 0;
};

// The percentage and the remaining time count every byte the file holds,
// kept ones included; the speed only the bytes received in this exchange,
// averaged over the seconds since its body began. Percentage 0 when the
// whole length is unknown.
DownloadProgress computeProgress(std::uint64_t held, std::uint64_t total, std::uint64_t receivedNow,
                                 double elapsedSeconds);
std::wstring progressText(const DownloadProgress& progress);

// Told the progress after every chunk that reached the file; it decides who
// hears of it.
using ProgressSink = std::function<void(const DownloadProgress&)>;
