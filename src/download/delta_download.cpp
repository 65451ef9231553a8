#include "download/delta_download.h"

#include "archive/binary_patch.h"
#include "archive/local_header.h"
#include "archive/zip_directory.h"
#include "common/encoding.h"
#include "common/file_system.h"
#include "download/body_stream.h"
#include "download/delta_plan.h"
#include "download/patch_inputs.h"
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

// What a step of the rebuild leaves: nothing when it went well and the
// rebuild goes on, else how the rebuild ends.
using StepEnd = std::optional<RebuildResult>;

RebuildResult interrupted(const Failure& why) {
    return {RebuildOutcome::Interrupted, why};
}

constexpr RebuildResult kNotPossible{};

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

// A request whose answer must be 206 with a well-formed Content-Range. When
// it is not, how the rebuild ends: interrupted when no answer came (the link
// dropped), worth another attempt; not possible when the answer was another.
struct RangeAnswer {
    RebuildResult end;
    std::optional<ContentRange> range;
};

RangeAnswer askForRange(const DownloadJob& job, const std::wstring& headers, PinnedExchange& exchange,
                        RequestLogLine& line) {
    if (const Failure failure = sendPinnedRequest(job.requestPath, job.route, FailureStep::Download, exchange, headers)) {
        line.error = failure.systemError;
        return {interrupted(failure), std::nullopt};
    }
    line.status = queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE);
    if (line.status != HTTP_STATUS_PARTIAL_CONTENT) {
        return {};
    }
    return {kNotPossible, parseContentRange(queryTextHeader(exchange.request.get(), WINHTTP_QUERY_CONTENT_RANGE))};
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

// The answer's body as the tail's bytes, counted for the log. False when it
// broke off.
bool receiveTail(DownloadJob& job, HINTERNET request, std::uint64_t length, OfferedTail& tail,
                 RequestLogLine& line) {
    tail.bytes.clear();
    const bool whole = readBody(request, length, [&tail](const std::uint8_t* bytes, DWORD count) {
        tail.bytes.insert(tail.bytes.end(), bytes, bytes + count);
        return true;
    });
    line.error = whole ? 0 : GetLastError();
    line.bytes = tail.bytes.size();
    job.stats.network += line.bytes;
    return whole;
}

StepEnd fetchOfferedTail(DownloadJob& job, OfferedTail& tail) {
    std::uint64_t asked = kPackageTailRequest;
    std::wstring headers = tailRequestHeaders(asked);
    for (int requests = 0; requests < 2; ++requests) {
        RequestLogLine line(job.log, job.requestPath);
        PinnedExchange exchange;
        const RangeAnswer answer = askForRange(job, headers, exchange, line);
        const std::optional<ContentRange>& range = answer.range;
        // The tail is kept in memory: never more of it than was asked for.
        if (!range || range->last + 1 != range->total || range->last - range->first + 1 > asked) {
            return answer.end;
        }
        const HINTERNET request = exchange.request.get();
        const std::wstring validator = chooseValidator(queryTextHeader(request, WINHTTP_QUERY_ETAG),
                                                       queryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED));
        // Without a validator the later ranges could come from another file.
        if (validator.empty() || (requests > 0 && validator != tail.validator)) {
            return kNotPossible;
        }
        tail.validator = validator;
        if (!receiveTail(job, request, range->last - range->first + 1, tail, line)) {
            return interrupted({FailureStep::Download, FailureKind::Unreachable, 0, line.error});
        }
        ZipTailReading reading = readZipTail(tail.bytes, range->total);
        if (reading.directory) {
            tail.directory = std::move(*reading.directory);
            return std::nullopt;
        }
        if (reading.neededTailLength <= tail.bytes.size() || reading.neededTailLength > kMaxPackageTail) {
            return kNotPossible;
        }
        asked = reading.neededTailLength;
        headers = rangeRequestHeaders(range->total - asked, range->total - 1, validator);
    }
    return kNotPossible;
}

// The new package as it goes into the job's partial file.
struct Rebuild {
    DownloadJob& job;
    const std::wstring& validator;
    // Every byte received: ranges and patches.
    std::uint64_t fetched = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Copied bytes move the percentage; the speed stays the network's.
bool placeCopied(Rebuild& rebuild, const std::uint8_t* bytes, DWORD count) {
    PartialFile& partial = rebuild.job.partial;
    if (writeToPartial(partial, bytes, count)) {
        return false;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - rebuild.start).count();
    rebuild.job.reportProgress(computeProgress(partial.kept, partial.record.total, rebuild.fetched, elapsed));
    return true;
}

StepEnd copyRun(Rebuild& rebuild, HANDLE previous, const RebuildStep& step) {
    Bytes bytes;
    for (std::uint64_t done = 0; done < step.length; done += bytes.size()) {
        const std::uint64_t piece = std::min(step.length - done, kCopyChunkBytes);
        if (!readAt(previous, step.sourceOffset + done, piece, bytes) ||
            !placeCopied(rebuild, bytes.data(), static_cast<DWORD>(piece))) {
            return kNotPossible;
        }
        rebuild.job.stats.copied += piece;
    }
    return std::nullopt;
}

// The run's bytes go through the download's own reading and writing.
StepEnd fetchRun(Rebuild& rebuild, const RebuildStep& step) {
    PartialFile& partial = rebuild.job.partial;
    const std::uint64_t last = step.sourceOffset + step.length - 1;
    RequestLogLine line(rebuild.job.log, rebuild.job.requestPath);
    PinnedExchange exchange;
    const RangeAnswer answer =
        askForRange(rebuild.job, rangeRequestHeaders(step.sourceOffset, last, rebuild.validator), exchange, line);
    const std::optional<ContentRange>& range = answer.range;
    if (!range || range->first != step.sourceOffset || range->last != last || range->total != partial.record.total) {
        return answer.end;
    }
    const std::uint64_t keptBefore = partial.kept;
    const Failure streamed = streamBody(exchange.request.get(), partial, rebuild.job.reportProgress);
    line.bytes = partial.kept - keptBefore;
    line.error = streamed.systemError;
    rebuild.fetched += line.bytes;
    rebuild.job.stats.network += line.bytes;
    if (partial.kept > last + 1) {
        // More than was asked for: the file no longer holds the package's start.
        discardPartial(partial);
        return kNotPossible;
    }
    if (streamed) {
        return interrupted(streamed);
    }
    if (partial.kept != last + 1) {
        return interrupted({FailureStep::Download, FailureKind::BadAnswer});
    }
    return std::nullopt;
}

// A local header is its fixed part, a name and an extra field of at most
// 64 KiB each: more in front of an entry's data is not one.
constexpr std::uint64_t kMaxLocalHeader = kLocalHeaderSize + 2 * 0xFFFF;

// The entry's data from where the partial file stands, rebuilt from the
// previous package's entry and the patch between their contents, once the
// entry's local header in the file (fetched before it) has shown that the
// data starts where the plan says. False on any doubt, after which the
// file may hold some of the data.
bool entryFromPatch(Rebuild& rebuild, HANDLE previous, const RebuildStep& step) {
    const PatchedEntry& patched = *step.patched;
    const std::uint64_t headerLength = patched.dataStart - patched.newEntry.start;
    Bytes header(std::min(headerLength, kMaxLocalHeader));
    if (headerLength > kMaxLocalHeader || !readPartial(rebuild.job.partial, patched.newEntry.start, header) ||
        !localHeaderDescribes(header, patched.newEntry)) {
        return false;
    }
    Bytes patch;
    bool fetched = false;
    {
        const std::wstring path = patchRequestPath(rebuild.job.requestPath, patched.oldEntry.crc32,
                                                   patched.newEntry.crc32);
        RequestLogLine line(rebuild.job.log, path);
        // The release tool keeps a patch only under half the entry's compressed
        // size: a larger answer is no patch of its, and is never held in memory.
        fetched = fetchPatch(path, rebuild.job.route, (patched.newEntry.compressedSize + 1) / 2, patch, line);
        rebuild.fetched += line.bytes;
        rebuild.job.stats.network += line.bytes;
        rebuild.job.stats.patches += line.bytes;
    }
    Bytes old;
    if (!fetched || !readEntryContent(previous, patched.oldEntry, old)) {
        return false;
    }
    const auto place = [&rebuild](std::span<const std::uint8_t> piece) {
        return placeCopied(rebuild, piece.data(), static_cast<DWORD>(piece.size()));
    };
    return rebuildPatchedEntry(old, patch, patched.oldEntry, patched.newEntry, step.sourceOffset - patched.dataStart,
                               place) == PatchStatus::Ok;
}

// A patch that is missing or in any doubt costs only bytes: what is still
// missing of the entry comes by range. When this attempt wrote some of the
// entry's data and then found it wrong (deflated otherwise than the
// package), the whole data goes first, an earlier run's included; when it
// wrote none, what an earlier run kept stays (it may have come by range),
// and the whole file's digest judges it.
StepEnd patchRun(Rebuild& rebuild, HANDLE previous, const RebuildStep& step) {
    PartialFile& partial = rebuild.job.partial;
    const std::uint64_t from = partial.kept;
    if (entryFromPatch(rebuild, previous, step)) {
        return std::nullopt;
    }
    if (partial.kept != from && !cutPartialBack(partial, step.patched->dataStart)) {
        return kNotPossible;
    }
    const std::uint64_t end = step.sourceOffset + step.length;
    return fetchRun(rebuild, RebuildStep{false, partial.kept, end - partial.kept});
}

// Writes what is missing after the kept bytes: the steps, then the central
// directory and the end record as fetched.
StepEnd writeRebuild(Rebuild& rebuild, HANDLE previous, const OfferedTail& tail,
                     const std::vector<RebuildStep>& steps) {
    const PartialFile& partial = rebuild.job.partial;
    for (const RebuildStep& step : stepsAfter(steps, partial.kept)) {
        if (StepEnd end = step.patched          ? patchRun(rebuild, previous, step)
                          : step.fromOldPackage ? copyRun(rebuild, previous, step)
                                                : fetchRun(rebuild, step)) {
            return end;
        }
    }
    const std::uint64_t tailStart = partial.record.total - tail.bytes.size();
    const std::uint64_t from = std::max(partial.kept, tail.directory.directoryStart) - tailStart;
    if (from < tail.bytes.size() &&
        !placeCopied(rebuild, tail.bytes.data() + from, static_cast<DWORD>(tail.bytes.size() - from))) {
        return kNotPossible;
    }
    return std::nullopt;
}

// Patches are asked for only when this zlib deflates as the release tool's.
PatchUse patchUse() {
    return deflatesAsThePackage() ? PatchUse::Ask : PatchUse::None;
}

// Whatever the next attempt or start keeps of the whole download is then
// continued as it is, never thrown away by another rebuild from this package.
RebuildResult refusePreviousPackage(const std::wstring& path, const Failure& why) {
    removeFile(path.c_str());
    return {RebuildOutcome::Refused, why};
}

}  // namespace

RebuildResult rebuildFromPreviousPackage(DownloadJob& job) {
    PartialFile& partial = job.partial;
    OwnedFileHandle previous(CreateFileW(job.packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::optional<ZipDirectory> previousDirectory = previous ? readPreviousDirectory(previous.get()) : std::nullopt;
    if (!previousDirectory || !partial.file || !job.digest) {
        return kNotPossible;
    }
    OfferedTail tail;
    if (StepEnd end = fetchOfferedTail(job, tail)) {
        return *end;
    }
    const std::vector<RebuildStep> steps = planRebuild(*previousDirectory, tail.directory, kRangeMergeGap, patchUse());
    // With nothing to copy or patch, the whole package is the cheaper request.
    if (copiedBytes(steps) + patchedBytes(steps) == 0) {
        return kNotPossible;
    }
    // Kept bytes are the offered file's start only when their record names
    // its length and validator; any others make way.
    const PartialRecord record{job.url, digestText(job.digest), tail.directory.fileSize, tail.validator};
    if ((partial.kept == 0 || partial.record != record) && !restartPartial(partial, record)) {
        return kNotPossible;
    }
    Rebuild rebuild{job, tail.validator};
    const StepEnd written = writeRebuild(rebuild, previous.get(), tail, steps);
    // What was written is the offered package's start, as far as it went:
    // the next attempt or start goes on from there, and the digest judges
    // the whole.
    flushPartial(partial);
    previous.reset();
    if (written) {
        return *written;
    }
    if (const Failure failure = finishPartial(partial, job.digest, job.packagePath)) {
        return failure.kind == FailureKind::DigestMismatch ? refusePreviousPackage(job.packagePath, failure)
                                                           : kNotPossible;
    }
    return {RebuildOutcome::Rebuilt, {}};
}
