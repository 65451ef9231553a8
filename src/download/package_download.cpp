#include "download/package_download.h"

#include "download/body_stream.h"
#include "download/delta_download.h"
#include "download/partial_file.h"
#include "download/resume.h"
#include "net/connection.h"
#include "net/request_path.h"

namespace {

constexpr DWORD kPauseAfterFailedAttemptMs = 1000;

struct Download {
    std::wstring url;
    std::wstring requestPath;
    std::wstring packagePath;
    const std::optional<Sha256Digest>& expectedDigest;
    const NetworkRoute& route;
    const ProgressSink& reportProgress;
    PartialFile partial;
};

// Makes the partial file hold the start of the body about to be read: the
// kept bytes when the answer continues them, nothing when it is the whole
// file. False when the answer brings no package bytes.
bool prepareForAnswer(Download& download, HINTERNET request) {
    PartialFile& partial = download.partial;
    const DWORD status = queryNumericHeader(request, WINHTTP_QUERY_STATUS_CODE);
    const std::wstring validator = chooseValidator(queryTextHeader(request, WINHTTP_QUERY_ETAG),
                                                   queryTextHeader(request, WINHTTP_QUERY_LAST_MODIFIED));
    const std::wstring contentRange = queryTextHeader(request, WINHTTP_QUERY_CONTENT_RANGE);
    switch (judgeAnswer(status, partial.kept, partial.record, contentRange, validator)) {
        case AnswerUse::WholeFile:
            return restartPartial(partial, PartialRecord{download.url, partial.record.sha256,
                                                         queryNumericHeader(request, WINHTTP_QUERY_CONTENT_LENGTH),
                                                         validator});
        case AnswerUse::Continue:
            return true;
        case AnswerUse::Discard:
            discardPartial(partial);
            return false;
        case AnswerUse::Fail:
            return false;
    }
    return false;
}

// One request for what is missing. True only when the package is complete,
// verified and in place.
bool downloadAttempt(Download& download) {
    PartialFile& partial = download.partial;
    if (partial.verified) {
        return finishPartial(partial, download.expectedDigest, download.packagePath);
    }
    if (!partial.file) {
        return false;
    }
    // What an earlier attempt left may no longer be worth continuing: the
    // answer that began it may have named no total, and no validator.
    if (partial.kept != 0 && !mayContinue(partial.record, partial.kept, download.url, partial.record.sha256)) {
        discardPartial(partial);
    }
    const std::wstring headers = partial.kept == 0 ? L"" : rangeRequestHeaders(partial.kept, partial.record.validator);
    PinnedExchange exchange;
    if (!sendPinnedRequest(download.requestPath, download.route, exchange, headers) ||
        !prepareForAnswer(download, exchange.request.get())) {
        return false;
    }
    const bool ended = streamBody(exchange.request.get(), partial, download.reportProgress);
    flushPartial(partial);
    const std::uint64_t total = partial.record.total;
    if (total != 0 && partial.kept > total) {
        discardPartial(partial);
        return false;
    }
    // A body that breaks off keeps what it brought for the next request.
    return ended && (total == 0 || partial.kept == total) &&
           finishPartial(partial, download.expectedDigest, download.packagePath);
}

}  // namespace

bool downloadPackage(const std::wstring& url, const std::wstring& targetPath,
                     const std::optional<Sha256Digest>& expectedDigest, const NetworkRoute& route,
                     const ProgressSink& reportProgress) {
    Download download{url, packageRequestPath(url), targetPath, expectedDigest, route, reportProgress, {}};
    PartialFile& partial = download.partial;
    // Only what changed since the previous package is fetched, when the
    // digest can prove the rebuilt file, for as long as the rebuild can go
    // on; whatever it leaves, the ordinary download continues.
    bool rebuilding = expectedDigest.has_value();
    AttemptCount count;
    while (mayAttemptAgain(count)) {
        if (!partial.file && !partial.verified) {
            openPartial(partial, targetPath, url, expectedDigest);
        }
        const std::uint64_t keptBefore = partial.kept;
        if (rebuilding) {
            const RebuildOutcome outcome =
                rebuildFromPreviousPackage(url, targetPath, partial, *expectedDigest, route, reportProgress);
            if (outcome == RebuildOutcome::Rebuilt) {
                return true;
            }
            rebuilding = outcome == RebuildOutcome::Interrupted;
        }
        if (!rebuilding && downloadAttempt(download)) {
            return true;
        }
        countAttempt(count, partial.kept > keptBefore);
        Sleep(kPauseAfterFailedAttemptMs);
    }
    // Kept bytes wait for the next start; an empty file would only be litter.
    if (partial.file && partial.kept == 0) {
        partial.file.reset();
        removePartialDownload(targetPath);
    }
    return false;
}
