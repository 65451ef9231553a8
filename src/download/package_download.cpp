#include "download/package_download.h"

#include "common/encoding.h"
#include "download/body_stream.h"
#include "download/bounds_switch.h"
#include "download/delta_download.h"
#include "download/download_job.h"
#include "download/partial_file.h"
#include "download/resume.h"
#include "net/connection.h"
#include "net/request_path.h"

namespace {

constexpr DWORD kPauseAfterFailedAttemptMs = 1000;

Failure downloadFailure(FailureKind kind, std::uint32_t httpStatus = 0, std::uint32_t systemError = 0) {
    return {FailureStep::Download, kind, httpStatus, systemError};
}

// Makes the partial file hold the start of the body about to be read: the
// kept bytes when the answer continues them, nothing when it is the whole
// file. A failure when the answer brings no package bytes, announces a length
// the bounds refuse, or leaves the disk no room for the rest.
Failure prepareForAnswer(DownloadJob& job, HINTERNET request) {
    PartialFile& partial = job.partial;
    const DWORD status = queryNumericHeader(request, WINHTTP_QUERY_STATUS_CODE);
    const std::wstring validator = chooseValidator(queryTextHeader(request, WINHTTP_QUERY_ETAG),
                                                   queryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED));
    const std::wstring contentRange = queryTextHeader(request, WINHTTP_QUERY_CONTENT_RANGE);
    const AnswerUse use = judgeAnswer(status, partial.kept, partial.record, contentRange, validator);
    if (use == AnswerUse::Fail) {
        return downloadFailure(FailureKind::HttpStatus, status);
    }
    if (use == AnswerUse::Discard) {
        discardPartial(partial);
        return downloadFailure(FailureKind::BadAnswer, status);
    }
    const AnnouncedLength announced =
        judgeAnnouncedLength(status, parseDecimal(queryTextHeader(request, WINHTTP_QUERY_CONTENT_LENGTH)),
                             parseContentRange(contentRange), partial.bounds);
    if (announced.verdict != LengthVerdict::Fits) {
        const bool tooLarge = announced.verdict == LengthVerdict::TooLarge;
        return downloadFailure(tooLarge ? FailureKind::TooLarge : FailureKind::BadAnswer, status);
    }
    if (use == AnswerUse::WholeFile &&
        !restartPartial(partial, PartialRecord{job.url, partial.record.sha256, announced.total, validator})) {
        return downloadFailure(FailureKind::Disk, 0, GetLastError());
    }
    return reserveRoom(partial, partial.record.total);
}

// How one request for what is missing ended: at its answer's headers, or
// while its body was appended to the partial file.
struct RestExchange {
    Failure headers;
    Failure streamed;
};

// One request for what is missing; logged once it is over, however it ended.
RestExchange exchangeForRest(DownloadJob& job) {
    PartialFile& partial = job.partial;
    const std::wstring headers = partial.kept == 0 ? L"" : rangeRequestHeaders(partial.kept, partial.record.validator);
    RequestLogLine line(job.log, job.requestPath);
    PinnedExchange exchange;
    RestExchange rest;
    rest.headers = sendPinnedRequest(job.requestPath, job.route, FailureStep::Download, exchange, headers);
    if (!rest.headers) {
        line.status = queryNumericHeader(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE);
        rest.headers = prepareForAnswer(job, exchange.request.get());
    }
    if (!rest.headers) {
        const std::uint64_t keptBefore = partial.kept;
        rest.streamed = streamBody(exchange.request.get(), partial, job.reportProgress);
        line.bytes = partial.kept - keptBefore;
        job.stats.network += line.bytes;
    }
    line.error = (rest.headers ? rest.headers : rest.streamed).systemError;
    return rest;
}

// One request for what is missing. No failure only when the package is
// complete, verified and in place.
Failure downloadAttempt(DownloadJob& job) {
    PartialFile& partial = job.partial;
    if (partial.verified) {
        return finishPartial(partial, job.digest, job.packagePath);
    }
    if (!partial.file) {
        return downloadFailure(FailureKind::Disk);
    }
    // What an earlier attempt left may no longer be worth continuing: the
    // answer that began it may have named no total, and no validator.
    if (partial.kept != 0 && !mayContinue(partial.record, partial.kept, job.url, partial.record.sha256)) {
        discardPartial(partial);
    }
    // The manifest's size tells a full disk before any request.
    if (const Failure failure = partial.bounds.size ? reserveRoom(partial, *partial.bounds.size) : Failure{}) {
        return failure;
    }
    const RestExchange rest = exchangeForRest(job);
    if (rest.headers) {
        return rest.headers;
    }
    const Failure& streamed = rest.streamed;
    flushPartial(partial);
    // A body that ran past its length is no package, nor is what came before.
    if (streamed.kind == FailureKind::BadAnswer) {
        discardPartial(partial);
    }
    // A body that breaks off keeps what it brought for the next request.
    if (streamed) {
        return streamed;
    }
    if (partial.record.total != 0 && partial.kept != partial.record.total) {
        return downloadFailure(FailureKind::BadAnswer);
    }
    return finishPartial(partial, job.digest, job.packagePath);
}

// Only what changed since the previous package is fetched, when the digest
// can prove the rebuilt file, for as long as the rebuild gets further; whatever
// it leaves, the ordinary download continues. A rebuild cut off before it kept
// a byte (its request for the package's end, on a link that cuts every answer
// short) leaves the next attempt to the ordinary download, which keeps what
// each answer brings.
Failure attempt(DownloadJob& job, bool& rebuilding) {
    // The whole package was kept before (its rename was refused, or the power
    // went first): only the digest decides, no request.
    if (isWhole(job.partial)) {
        return finishPartial(job.partial, job.digest, job.packagePath);
    }
    if (rebuilding) {
        const std::uint64_t keptBefore = job.partial.kept;
        const RebuildResult rebuilt = rebuildFromPreviousPackage(job);
        if (rebuilt.outcome == RebuildOutcome::Rebuilt) {
            return {};
        }
        const bool interrupted = rebuilt.outcome == RebuildOutcome::Interrupted;
        rebuilding = interrupted && job.partial.kept > keptBefore;
        if (interrupted) {
            return rebuilt.failure;
        }
    }
    return downloadAttempt(job);
}

void logStats(const DownloadJob& job, const AttemptCount& count, ULONGLONG started) {
    job.log.write("download", {{"network", job.stats.network},
                               {"patches", job.stats.patches},
                               {"copied", job.stats.copied},
                               {"resumed", job.stats.resumed},
                               {"failedattempts", count.attempts},
                               {"ms", GetTickCount64() - started}});
}

}  // namespace

Failure downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                        const std::optional<Sha256Digest>& expectedDigest, const std::optional<std::uint64_t>& size,
                        const NetworkRoute& route, const ProgressSink& reportProgress, SupportLog& log) {
    DownloadJob job{url, packageRequestPath(url), targetPath, expectedDigest, route, reportProgress, log, {}, {}};
    PartialFile& partial = job.partial;
    partial.bounds.size = size;
    applyBoundsSwitch(partial.bounds);
    bool rebuilding = expectedDigest.has_value();
    AttemptCount count;
    Failure last;
    const ULONGLONG started = GetTickCount64();
    for (bool first = true; mayAttemptAgain(count); first = false) {
        const Failure opened =
            partial.file || partial.verified ? Failure{} : openPartial(partial, targetPath, url, expectedDigest);
        job.stats.resumed = first ? partial.kept : job.stats.resumed;
        const std::uint64_t keptBefore = partial.kept;
        const Failure failed = attempt(job, rebuilding);
        if (!failed) {
            logStats(job, count, started);
            return {};
        }
        // Without its file an attempt can only fail; the file is why.
        last = opened ? opened : failed;
        // Another attempt would run out of room again: what was written goes.
        if (outOfRoom(failed)) {
            dropPartial(partial);
            return failed;
        }
        countAttempt(count, partial.kept > keptBefore);
        Sleep(kPauseAfterFailedAttemptMs);
    }
    // Kept bytes wait for the next start; an empty file would only be litter.
    if (partial.file && partial.kept == 0) {
        partial.file.reset();
        removePartialDownload(targetPath);
    }
    logStats(job, count, started);
    return gaveUpWhileGaining(count) ? downloadFailure(FailureKind::GaveUp, last.httpStatus, last.systemError) : last;
}
