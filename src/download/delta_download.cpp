#include "download/delta_download.h"

#include "archive/zip_directory.h"
#include "download/body_stream.h"
#include "download/delta_plan.h"
#include "download/resume.h"
#include "net/connection.h"
#include "net/request_path.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

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
        if (reading.directory || reading.neededTailLength <= tailLength ||
            reading.neededTailLength > kMaxPackageTail) {
            return std::move(reading.directory);
        }
        tailLength = reading.neededTailLength;
    }
    return std::nullopt;
}

// A request whose answer must be 206 with a well-formed Content-Range.
// Broken when no answer came (the link dropped): worth another attempt.
// Refused when the answer was another: the rebuild cannot go on.
struct RangeAnswer {
    RebuildOutcome failure = RebuildOutcome::NotPossible;
    std::optional<ContentRange> range;
};

RangeAnswer askForRange(const std::wstring& path, const NetworkRoute& route, const std::wstring& headers,
                        PinnedExchange& exchange) {
    if (!sendPinnedRequest(path, route, exchange, headers)) {
        return {RebuildOutcome::Interrupted, std::nullopt};
    }
    if (queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE) != HTTP_STATUS_PARTIAL_CONTENT) {
        return {};
    }
    return {RebuildOutcome::NotPossible,
            parseContentRange(queryTextHeader(exchange.request.get(), WINHTTP_QUERY_CONTENT_RANGE))};
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

// Fills the tail; Rebuilt stands for success here.
RebuildOutcome fetchOfferedTail(const std::wstring& path, const NetworkRoute& route, OfferedTail& tail) {
    std::uint64_t asked = kPackageTailRequest;
    std::wstring headers = tailRequestHeaders(asked);
    for (int requests = 0; requests < 2; ++requests) {
        PinnedExchange exchange;
        const RangeAnswer answer = askForRange(path, route, headers, exchange);
        const std::optional<ContentRange>& range = answer.range;
        // The tail is kept in memory: never more of it than was asked for.
        if (!range || range->last + 1 != range->total || range->last - range->first + 1 > asked) {
            return answer.failure;
        }
        const HINTERNET request = exchange.request.get();
        const std::wstring validator = chooseValidator(queryTextHeader(request, WINHTTP_QUERY_ETAG),
                                                       queryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED));
        // Without a validator the later ranges could come from another file.
        if (validator.empty() || (requests > 0 && validator != tail.validator)) {
            return RebuildOutcome::NotPossible;
        }
        tail.validator = validator;
        tail.bytes.clear();
        if (!readBody(request, range->last - range->first + 1, [&tail](const std::uint8_t* bytes, DWORD count) {
                tail.bytes.insert(tail.bytes.end(), bytes, bytes + count);
                return true;
            })) {
            return RebuildOutcome::Interrupted;
        }
        ZipTailReading reading = readZipTail(tail.bytes, range->total);
        if (reading.directory) {
            tail.directory = std::move(*reading.directory);
            return RebuildOutcome::Rebuilt;
        }
        if (reading.neededTailLength <= tail.bytes.size() || reading.neededTailLength > kMaxPackageTail) {
            return RebuildOutcome::NotPossible;
        }
        asked = reading.neededTailLength;
        headers = rangeRequestHeaders(range->total - asked, range->total - 1, validator);
    }
    return RebuildOutcome::NotPossible;
}

// The new package as it goes into the partial file.
struct Rebuild {
    PartialFile& partial;
    const std::wstring& path;
    const NetworkRoute& route;
    const std::wstring& validator;
    std::uint64_t fetched = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    const ProgressSink& reportProgress;
};

// Copied bytes move the percentage; the speed stays the network's.
bool placeCopied(Rebuild& rebuild, const std::uint8_t* bytes, DWORD count) {
    if (!appendToPartial(rebuild.partial, bytes, count)) {
        return false;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - rebuild.start).count();
    rebuild.reportProgress(
        computeProgress(rebuild.partial.kept, rebuild.partial.record.total, rebuild.fetched, elapsed));
    return true;
}

// Rebuilt stands for success in the steps below.
RebuildOutcome copyRun(Rebuild& rebuild, HANDLE previous, const RebuildStep& step) {
    Bytes bytes;
    for (std::uint64_t done = 0; done < step.length; done += bytes.size()) {
        const std::uint64_t piece = std::min(step.length - done, kCopyChunkBytes);
        if (!readAt(previous, step.sourceOffset + done, piece, bytes) ||
            !placeCopied(rebuild, bytes.data(), static_cast<DWORD>(piece))) {
            return RebuildOutcome::NotPossible;
        }
    }
    return RebuildOutcome::Rebuilt;
}

// The run's bytes go through the download's own reading and writing.
RebuildOutcome fetchRun(Rebuild& rebuild, const RebuildStep& step) {
    const std::uint64_t last = step.sourceOffset + step.length - 1;
    PinnedExchange exchange;
    const RangeAnswer answer =
        askForRange(rebuild.path, rebuild.route, rangeRequestHeaders(step.sourceOffset, last, rebuild.validator),
                    exchange);
    const std::optional<ContentRange>& range = answer.range;
    if (!range || range->first != step.sourceOffset || range->last != last ||
        range->total != rebuild.partial.record.total) {
        return answer.failure;
    }
    const std::uint64_t keptBefore = rebuild.partial.kept;
    const bool ended = streamBody(exchange.request.get(), rebuild.partial, rebuild.reportProgress);
    rebuild.fetched += rebuild.partial.kept - keptBefore;
    if (rebuild.partial.kept > last + 1) {
        // More than was asked for: the file no longer holds the package's start.
        discardPartial(rebuild.partial);
        return RebuildOutcome::NotPossible;
    }
    return ended && rebuild.partial.kept == last + 1 ? RebuildOutcome::Rebuilt : RebuildOutcome::Interrupted;
}

// Writes what is missing after the kept bytes: the steps, then the central
// directory and the end record as fetched.
RebuildOutcome writeRebuild(Rebuild& rebuild, HANDLE previous, const OfferedTail& tail,
                            const std::vector<RebuildStep>& steps) {
    for (const RebuildStep& step : stepsAfter(steps, rebuild.partial.kept)) {
        const RebuildOutcome outcome = step.fromOldPackage ? copyRun(rebuild, previous, step) : fetchRun(rebuild, step);
        if (outcome != RebuildOutcome::Rebuilt) {
            return outcome;
        }
    }
    const std::uint64_t tailStart = rebuild.partial.record.total - tail.bytes.size();
    const std::uint64_t from = std::max(rebuild.partial.kept, tail.directory.directoryStart) - tailStart;
    if (from < tail.bytes.size() &&
        !placeCopied(rebuild, tail.bytes.data() + from, static_cast<DWORD>(tail.bytes.size() - from))) {
        return RebuildOutcome::NotPossible;
    }
    return RebuildOutcome::Rebuilt;
}

}  // namespace

RebuildOutcome rebuildFromPreviousPackage(const std::wstring& url, const std::wstring& packagePath,
                                          PartialFile& partial, const Sha256Digest& digest,
                                          const NetworkRoute& route, const ProgressSink& reportProgress) {
    OwnedFileHandle previous(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::optional<ZipDirectory> previousDirectory = previous ? readPreviousDirectory(previous.get()) : std::nullopt;
    if (!previousDirectory || !partial.file) {
        return RebuildOutcome::NotPossible;
    }
    const std::wstring path = packageRequestPath(url);
    OfferedTail tail;
    if (const RebuildOutcome fetched = fetchOfferedTail(path, route, tail); fetched != RebuildOutcome::Rebuilt) {
        return fetched;
    }
    const std::vector<RebuildStep> steps = planRebuild(*previousDirectory, tail.directory);
    // With nothing to copy, the whole package is the cheaper request.
    if (copiedBytes(steps) == 0) {
        return RebuildOutcome::NotPossible;
    }
    // Kept bytes are the offered file's start only when their record names
    // its length and validator; any others make way.
    const PartialRecord record{url, digestText(digest), tail.directory.fileSize, tail.validator};
    if ((partial.kept == 0 || partial.record != record) && !restartPartial(partial, record)) {
        return RebuildOutcome::NotPossible;
    }
    Rebuild rebuild{partial, path, route, tail.validator, 0, std::chrono::steady_clock::now(), reportProgress};
    const RebuildOutcome written = writeRebuild(rebuild, previous.get(), tail, steps);
    // What was written is the offered package's start, as far as it went:
    // the next attempt or start goes on from there, and the digest judges
    // the whole.
    flushPartial(partial);
    previous.reset();
    if (written != RebuildOutcome::Rebuilt) {
        return written;
    }
    return finishPartial(partial, digest, packagePath) ? RebuildOutcome::Rebuilt : RebuildOutcome::NotPossible;
}
