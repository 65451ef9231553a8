#include "download/package_download.h"

#include "net/connection.h"
#include "net/request_path.h"

#include <chrono>
#include <vector>

namespace {

constexpr int kDownloadAttempts = 3;
constexpr DWORD kPauseAfterFailedAttemptMs = 1000;

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
bool streamBodyToFile(HINTERNET request, HANDLE file, DWORD announced,
                      const std::optional<Sha256Digest>& expectedDigest, const ProgressSink& reportProgress) {
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
        reportProgress(computeProgress(received, announced, secondsSince(start)));
    }
    if (announced != 0 && received < announced) {
        return false;
    }
    return !expectedDigest || hashMatches(packageHash, *expectedDigest);
}

bool downloadAttempt(const std::wstring& requestPath, const std::wstring& targetPath,
                     const std::optional<Sha256Digest>& expectedDigest, const ProgressSink& reportProgress) {
    PinnedExchange exchange;
    if (!sendPinnedRequest(requestPath, Timeouts::Download, exchange)) {
        return false;
    }
    if (queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != kHttpStatusOk) {
        return false;
    }
    const DWORD announced = queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    OwnedFileHandle file(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    const bool complete =
        streamBodyToFile(exchange.request.get(), file.get(), announced, expectedDigest, reportProgress);
    file.reset();
    if (!complete) {
        // A partial package is of no use to anyone; leave no trace of it.
        DeleteFileW(targetPath.c_str());
    }
    return complete;
}

}  // namespace

bool downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                     const std::optional<Sha256Digest>& expectedDigest, const ProgressSink& reportProgress) {
    const std::wstring requestPath = packageRequestPath(url);
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
        if (downloadAttempt(requestPath, targetPath, expectedDigest, reportProgress)) {
            return true;
        }
        Sleep(kPauseAfterFailedAttemptMs);
    }
    return false;
}
