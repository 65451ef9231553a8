#include "download/progress.h"

#include "common/texts.h"

#include <algorithm>
#include <climits>

namespace {

constexpr double kBytesPerKilobyte = 1024.0;

std::int32_t truncateToInt32(double value) {
    return static_cast<std::int32_t>(std::clamp(value, static_cast<double>(INT_MIN),
                                                static_cast<double>(INT_MAX)));
}

}  // namespace

DownloadProgress computeProgress(std::uint64_t held, std::uint64_t total, std::uint64_t receivedNow,
                                 double elapsedSeconds) {
    double speed = 0.0;
    double remaining = 0.0;
    if (elapsedSeconds > 0.0) {
        speed = static_cast<double>(receivedNow) / elapsedSeconds;
    }
    if (speed > 0.0 && total != 0 && total >= held) {
        remaining = static_cast<double>(total - held) / speed;
    }
    DownloadProgress progress;
    if (total != 0) {
        // Exact whole percent, without overflow below 2^57 bytes.
        progress.percentage = truncateToInt32(static_cast<double>(held / total * 100 + held % total * 100 / total));
    }
    progress.kilobytesPerSecond = truncateToInt32(speed / kBytesPerKilobyte);
    progress.remainingSeconds = truncateToInt32(remaining);
    return progress;
}

std::wstring progressText(const DownloadProgress& progress) {
    return std::to_wstring(progress.percentage) + kProgressPercentPiece +
           std::to_wstring(progress.kilobytesPerSecond) + kProgressSpeedPiece +
           std::to_wstring(progress.remainingSeconds) + kProgressSecondsPiece;
}
