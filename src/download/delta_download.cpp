#include "download/delta_download.h"

#include "common/layout.h"
#include "download/delta_plan.h"
#include "download/resume.h"
#include "download/zip_directory.h"
#include "net/connection.h"
#include "net/request_path.h"

#include <chrono>
#include <vector>

namespace {

constexpr DWORD kStatusPartialContent = 206;
constexpr std::uint64_t kCopyChunkBytes = 256 * 1024;
constexpr DWORD kReadChunkBytes = 64 * 1024;

using Bytes = std::vector<std::uint8_t>;

bool readAt(HANDLE file, std::uint64_t offset, std::uint64_t length, Bytes& bytes) {
    bytes.resize(length);
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        return false;
    }
    for (std::uint64_t done = 0; done < length;) {
        DWORD read = 0;
        const auto piece = static_cast<DWORD>(std::min<std::uint64_t>(length - done, kCopyChunkBytes));
        if (!ReadFile(file, bytes.data() + done, piece, &read, nullptr) || read == 0) {
            return false;
        }
        done += read;
    }
    return true;
}

// The previous package's central directory, read from its own end.
std::optional<ZipDirectory> readPreviousDirectory(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(size.QuadPart);
    std::uint64_t tailLength = zipEndSearchLength(fileSize);
    Bytes tail;
    for (int reads = 0; reads < 2; ++reads) {
        if (!readAt(file, fileSize - tailLength, tailLength, tail)) {
            return std::nullopt;
        }
        ZipTailReading reading = readZipTail(tail, fileSize);
        if (reading.directory || reading.neededTailLength <= tailLength) {
            return std::move(reading.directory);
        }
        tailLength = reading.neededTailLength;
    }
    return std::nullopt;
}

// Sends a request whose answer must be 206 with a well-formed Content-Range.
std::optional<ContentRange> askForRange(const std::wstring& path, const std::wstring& headers,
                                        PinnedExchange& exchange) {
    if (!sendPinnedRequest(path, Timeouts::Download, exchange, headers) ||
        queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != kStatusPartialContent) {
        return std::nullopt;
    }
    return parseContentRange(queryTextHeader(exchange.request.get(), WINHTTP_QUERY_CONTENT_RANGE));
}

// Reads exactly `length` body bytes, handing each piece on as it arrives.
template <typename Take>
bool readBody(HINTERNET request, std::uint64_t length, Take&& take) {
    Bytes buffer(kReadChunkBytes);
    std::uint64_t received = 0;
    while (received < length) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), kReadChunkBytes, &read) || read == 0 ||
            read > length - received || !take(buffer.data(), read)) {
            return false;
        }
        received += read;
    }
    return true;
}

// The offered package's end: its central directory, the bytes it came in,
// and the validator that the later range requests must match.
struct OfferedTail {
    ZipDirectory directory;
    Bytes bytes;
    std::wstring validator;
};

std::optional<OfferedTail> fetchOfferedTail(const std::wstring& path) {
    OfferedTail tail;
    std::wstring headers = tailRangeHeaders(kPackageTailRequest);
    for (int requests = 0; requests < 2; ++requests) {
        PinnedExchange exchange;
        const std::optional<ContentRange> range = askForRange(path, headers, exchange);
        if (!range || range->last + 1 != range->total) {
            return std::nullopt;
        }
        const HINTERNET request = exchange.request.get();
        const std::wstring validator = chooseValidator(queryTextHeader(request, WINHTTP_QUERY_ETAG),
                                                       queryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED));
        // Without a validator the later ranges could come from another file.
        if (validator.empty() || (requests > 0 && validator != tail.validator)) {
            return std::nullopt;
        }
        tail.validator = validator;
        tail.bytes.clear();
        if (!readBody(request, range->last - range->first + 1, [&tail](const std::uint8_t* bytes, DWORD count) {
                tail.bytes.insert(tail.bytes.end(), bytes, bytes + count);
                return true;
            })) {
            return std::nullopt;
        }
        ZipTailReading reading = readZipTail(tail.bytes, range->total);
        if (reading.directory) {
            tail.directory = std::move(*reading.directory);
            return tail;
        }
        if (reading.neededTailLength <= tail.bytes.size()) {
            return std::nullopt;
        }
        headers = rangeHeaders(range->total - reading.neededTailLength, range->total - 1, validator);
    }
    return std::nullopt;
}

// The new package as it is written, hashed on the way.
struct Rebuild {
    HANDLE output;
    Sha256Hasher hasher;
    std::uint64_t total;
    std::uint64_t inPlace = 0;
    std::uint64_t fetched = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    const ProgressSink& reportProgress;
};

bool place(Rebuild& rebuild, const std::uint8_t* bytes, DWORD count, bool fromNetwork) {
    DWORD written = 0;
    if (!WriteFile(rebuild.output, bytes, count, &written, nullptr) || written != count ||
        !addToSha256(rebuild.hasher, bytes, count)) {
        return false;
    }
    rebuild.inPlace += count;
    rebuild.fetched += fromNetwork ? count : 0;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - rebuild.start).count();
    // The percentage counts every byte in place; the speed only the network's.
    rebuild.reportProgress(computeProgress(rebuild.inPlace, rebuild.total, rebuild.fetched, elapsed));
    return true;
}

bool copyRun(Rebuild& rebuild, HANDLE previous, const RebuildStep& step) {
    Bytes bytes;
    for (std::uint64_t done = 0; done < step.length; done += bytes.size()) {
        const std::uint64_t piece = std::min(step.length - done, kCopyChunkBytes);
        if (!readAt(previous, step.sourceOffset + done, piece, bytes) ||
            !place(rebuild, bytes.data(), static_cast<DWORD>(piece), false)) {
            return false;
        }
    }
    return true;
}

bool fetchRun(Rebuild& rebuild, const std::wstring& path, const std::wstring& validator, const RebuildStep& step) {
    const std::uint64_t last = step.sourceOffset + step.length - 1;
    PinnedExchange exchange;
    const std::optional<ContentRange> range = askForRange(path, rangeHeaders(step.sourceOffset, last, validator), exchange);
    return range && range->first == step.sourceOffset && range->last == last && range->total == rebuild.total &&
           readBody(exchange.request.get(), step.length, [&rebuild](const std::uint8_t* bytes, DWORD count) {
               return place(rebuild, bytes, count, true);
           });
}

bool writeRebuild(Rebuild& rebuild, HANDLE previous, const std::wstring& path, const OfferedTail& tail,
                  const std::vector<RebuildStep>& steps) {
    for (const RebuildStep& step : steps) {
        if (!(step.fromOldPackage ? copyRun(rebuild, previous, step) : fetchRun(rebuild, path, tail.validator, step))) {
            return false;
        }
    }
    // Then the central directory and the end record, as fetched.
    const std::uint64_t tailStart = rebuild.total - tail.bytes.size();
    const std::uint64_t directoryAt = tail.directory.directoryStart - tailStart;
    return place(rebuild, tail.bytes.data() + directoryAt, static_cast<DWORD>(tail.bytes.size() - directoryAt), false);
}

}  // namespace

bool rebuildFromPreviousPackage(const std::wstring& url, const std::wstring& packagePath, const Sha256Digest& digest,
                                const ProgressSink& reportProgress) {
    OwnedFileHandle previous(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::optional<ZipDirectory> previousDirectory = previous ? readPreviousDirectory(previous.get()) : std::nullopt;
    if (!previousDirectory) {
        return false;
    }
    const std::wstring path = packageRequestPath(url);
    const std::optional<OfferedTail> tail = fetchOfferedTail(path);
    if (!tail) {
        return false;
    }
    const std::vector<RebuildStep> steps = planRebuild(*previousDirectory, tail->directory);
    // With nothing to copy, the whole package is the cheaper request.
    if (copiedBytes(steps) == 0) {
        return false;
    }
    const std::wstring rebuildPath = packagePath + kRebuildSuffix;
    OwnedFileHandle output(CreateFileW(rebuildPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    Rebuild rebuild{output.get(), {}, tail->directory.fileSize, 0, 0, std::chrono::steady_clock::now(),
                    reportProgress};
    const bool rebuilt = output && startSha256(rebuild.hasher) &&
                         writeRebuild(rebuild, previous.get(), path, *tail, steps) &&
                         finishSha256(rebuild.hasher) == digest && FlushFileBuffers(output.get());
    output.reset();
    previous.reset();
    if (!rebuilt || !MoveFileExW(rebuildPath.c_str(), packagePath.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(rebuildPath.c_str());
        return false;
    }
    return true;
}
