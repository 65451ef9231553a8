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

DownloadProgress computeProgress(std::uint32_t received, std::uint32_t announced, double elapsedSeconds) {
    double speed = 0.0;
    double remaining = 0.0;
    if (elapsedSeconds > 0.0) {
        speed = received / elapsedSeconds;
    }
    if (speed > 0.0 && announced != 0 && announced >= received) {
        remaining = (announced - received) / speed;
    }
    DownloadProgress progress;
    if (announced != 0) {
        progress.percentage = static_cast<std::int32_t>(std::uint64_t{received} * 100 / announced);
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
