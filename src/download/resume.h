#pragma once

// The decisions behind a download that survives dropped connections and
// restarts, kept free of side effects: what the partial file is, whether its
// bytes may be continued, what the server's answer to a request for the rest
// means, and when to stop trying.

#include <cstdint>
#include <optional>
#include <string>

// What the partial file holds, written beside it: the release it belongs to
// and what the server said about the whole file.
struct PartialRecord {
    std::wstring url;
    // The expected digest as lowercase hex; empty when none was given.
    std::wstring sha256;
    // The whole file's length; 0 when the server did not announce it.
    std::uint64_t total = 0;
    // ETag, else Last-Modified: proof that a later answer is the same file.
    std::wstring validator;

    friend bool operator==(const PartialRecord&, const PartialRecord&) = default;
};

std::wstring recordText(const PartialRecord& record);
// Nothing for a record that is torn, foreign or written by anyone else.
std::optional<PartialRecord> parseRecord(const std::wstring& text);

// Kept bytes are worth asking the rest for only when they are of this very
// release, fewer than the whole and vouched for by a validator or a digest.
bool mayContinue(const PartialRecord& record, std::uint64_t keptBytes, const std::wstring& url,
                 const std::wstring& sha256);

// Kept bytes that are the whole file of this very release, which a power cut
// or a refused rename kept from becoming the package: worth only the check
// against the digest, never another download. Without a digest nothing could
// prove them whole and right.
bool mayTakeWhole(const PartialRecord& record, std::uint64_t keptBytes, const std::wstring& url,
                  const std::wstring& sha256);

// A weak ETag cannot prove byte equality, so it gives way to Last-Modified.
std::wstring chooseValidator(const std::wstring& etag, const std::wstring& lastModified);

// "Range" asks for everything from the first missing byte; "If-Range" makes
// the server send the whole file instead when it is no longer the same.
std::wstring rangeRequestHeaders(std::uint64_t keptBytes, const std::wstring& validator);
// The same for bytes first..last (both included) only.
std::wstring rangeRequestHeaders(std::uint64_t first, std::uint64_t last, const std::wstring& validator);
// The request headers for the last `length` bytes of a file.
std::wstring tailRequestHeaders(std::uint64_t length);

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};

// "bytes FIRST-LAST/TOTAL" with a known total; nothing otherwise.
std::optional<ContentRange> parseContentRange(const std::wstring& value);

enum class AnswerUse {
    WholeFile,  // the body is the file from its first byte: start over
    Continue,   // the body is exactly the rest of the kept bytes
    Discard,    // the kept bytes cannot be continued: drop them, try again
    Fail,       // no package in this answer; the kept bytes stay
};

// What to do with an answer to a request that asked for the bytes after
// keptBytes (or for the whole file when keptBytes is 0).
AnswerUse judgeAnswer(std::uint32_t status, std::uint64_t keptBytes, const PartialRecord& record,
                      const std::wstring& contentRange, const std::wstring& validator);

// An attempt that added bytes to the file is not held against the download,
// but a few dead attempts in a row, or very many in all, end it.
struct AttemptCount {
    int attempts = 0;
    int fruitlessInARow = 0;
};

bool mayAttemptAgain(const AttemptCount& count);
void countAttempt(AttemptCount& count, bool addedBytes);
// The attempts ran out while they still brought bytes: no single attempt's
// failure is why the download ended.
bool gaveUpWhileGaining(const AttemptCount& count);
