#include "download/package_download.h"

#include "download/messages.h"
#include "net/connection.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <vector>

namespace {

constexpr int kDownloadAttempts = 3;
constexpr DWORD kPauseAfterFailedAttemptMs = 1000;
constexpr size_t kPathSearchStart = 8;
constexpr double kBytesPerKilobyte = 1024.0;

std::int32_t truncateToInt32(double value) {
    return static_cast<std::int32_t>(std::clamp(value, static_cast<double>(INT_MIN),
                                                static_cast<double>(INT_MAX)));
}

int hexDigitValue(wchar_t digit) {
    if (digit >= L'0' && digit <= L'9') {
        return digit - L'0';
    }
    if (digit >= L'a' && digit <= L'f') {
        return digit - L'a' + 10;
    }
    if (digit >= L'A' && digit <= L'F') {
        return digit - L'A' + 10;
    }
    return -1;
}

// Hashes the body as it is written, so the file is never read back.
struct PackageHash {
    OwnedAlgorithmProvider algorithm;
    OwnedHash hash;
};

bool startPackageHash(PackageHash& packageHash) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    packageHash.algorithm.reset(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    packageHash.hash.reset(hash);
    return true;
}

bool hashMatches(PackageHash& packageHash, const Sha256Digest& expected) {
    Sha256Digest actual{};
    return BCryptFinishHash(packageHash.hash.get(), actual.data(), static_cast<ULONG>(actual.size()), 0) == 0 &&
           actual == expected;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Copies the body to the file chunk by chunk. A body that breaks off, a
// failed or short write, a body shorter than announced or a digest mismatch
// makes the attempt fail: a package cut short must never be installed.
bool streamBodyToFile(HINTERNET request, HANDLE file, DWORD announced, HWND window,
                      const std::optional<Sha256Digest>& expectedDigest) {
    PackageHash packageHash;
    if (expectedDigest && !startPackageHash(packageHash)) {
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    DWORD received = 0;
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            return false;
        }
        if (available == 0) {
            break;
        }
        std::vector<unsigned char> chunk(available, 0);
        DWORD bytesRead = 0;
        if (!WinHttpReadData(request, chunk.data(), available, &bytesRead)) {
            return false;
        }
        DWORD bytesWritten = 0;
        if (!WriteFile(file, chunk.data(), bytesRead, &bytesWritten, nullptr) || bytesWritten != bytesRead) {
            return false;
        }
        if (expectedDigest && BCryptHashData(packageHash.hash.get(), chunk.data(), bytesRead, 0) != 0) {
            return false;
        }
        received += bytesRead;
        postProgress(window, computeProgress(received, announced, secondsSince(start)));
    }
    if (announced != 0 && received < announced) {
        return false;
    }
    return !expectedDigest || hashMatches(packageHash, *expectedDigest);
}

bool downloadAttempt(const std::wstring& requestPath, const std::wstring& targetPath, HWND window,
                     const std::optional<Sha256Digest>& expectedDigest) {
    PinnedExchange exchange;
    if (!sendPinnedRequest(requestPath, Timeouts::Download, exchange)) {
        return false;
    }
    if (queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != kHttpStatusOk) {
        return false;
    }
    const DWORD announced = queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    OwnedKernelHandle file = ownValidHandle(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    const bool complete = streamBodyToFile(exchange.request.get(), file.get(), announced, window, expectedDigest);
    file.reset();
    if (!complete) {
        // A partial package is of no use to anyone; leave no trace of it.
        DeleteFileW(targetPath.c_str());
    }
    return complete;
}

}  // namespace

std::wstring packageRequestPath(const std::wstring& url) {
    if (url.size() > kPathSearchStart) {
        const size_t slash = url.find(L'/', kPathSearchStart);
        if (slash != std::wstring::npos) {
            return url.substr(slash);
        }
    }
    return L"/";
}

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

bool postProgress(HWND window, const DownloadProgress& progress) {
    auto text = std::make_unique<std::wstring>(progressText(progress));
    const auto percentage = static_cast<WPARAM>(static_cast<INT_PTR>(progress.percentage));
    if (!PostMessageW(window, WM_UPDATE_PROGRESS, percentage, reinterpret_cast<LPARAM>(text.get()))) {
        return false;
    }
    text.release();  // the window procedure owns and frees it now
    return true;
}

std::optional<Sha256Digest> parseSha256(const std::wstring& hex) {
    Sha256Digest digest{};
    if (hex.size() != digest.size() * 2) {
        return std::nullopt;
    }
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = hexDigitValue(hex[2 * i]);
        const int low = hexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return digest;
}

bool downloadPackage(const std::wstring& url, const std::wstring& targetPath, HWND window,
                     const std::optional<Sha256Digest>& expectedDigest) {
    const std::wstring requestPath = packageRequestPath(url);
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
        if (downloadAttempt(requestPath, targetPath, window, expectedDigest)) {
            return true;
        }
        Sleep(kPauseAfterFailedAttemptMs);
    }
    return false;
}
