#include "download/body_stream.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

namespace {

// A few pieces in flight keep memory flat whatever the package's size, and
// are enough to ride out a flush of the file without stalling the reads.
constexpr size_t kPieceCount = 8;
// Many TLS records per piece, so that writing, hashing and reporting happen
// once per piece rather than once per record.
constexpr DWORD kPieceBytes = 256 * 1024;
// On a slow link a piece is handed on before it is full, so that the window
// still moves several times a second; but not before this long, so that a
// burst that came along with the headers is never divided by the instant it
// took to read it, which showed thousands of KB/s on a link of 32.
constexpr auto kHandOnAfter = std::chrono::milliseconds(100);

struct Piece {
    std::vector<unsigned char> bytes;
    DWORD length = 0;
    bool last = false;
};

// The reader fills pieces in turn and the writer empties them in the same
// turn; the lock guards only the count of filled pieces and the failure flag.
struct Pipeline {
    HINTERNET request;
    PartialFile& partial;
    std::chrono::steady_clock::time_point start;
    const ProgressSink& reportProgress;
    std::array<Piece, kPieceCount> pieces;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    size_t filled = 0;
    bool writeFailed = false;
    // Read by the reader only once the writer has ended.
    Failure writeFailure{};
};

// Waits until the condition holds under the lock; returns the failure flag.
template <typename Condition>
bool waitFor(Pipeline& pipeline, Condition condition) {
    AcquireSRWLockExclusive(&pipeline.lock);
    while (!condition()) {
        SleepConditionVariableSRW(&pipeline.changed, &pipeline.lock, INFINITE, 0);
    }
    const bool failed = pipeline.writeFailed;
    ReleaseSRWLockExclusive(&pipeline.lock);
    return failed;
}

// A piece changes hands: filled by the reader, or emptied (or not, when
// the write failed) by the writer.
void handOver(Pipeline& pipeline, bool filledOne, bool writeFailed) {
    AcquireSRWLockExclusive(&pipeline.lock);
    pipeline.filled = filledOne ? pipeline.filled + 1 : pipeline.filled - 1;
    pipeline.writeFailed = pipeline.writeFailed || writeFailed;
    ReleaseSRWLockExclusive(&pipeline.lock);
    WakeAllConditionVariable(&pipeline.changed);
}

// Reads what has arrived into the piece until it is full, the body ends or
// the piece has waited long enough. False when a read failed.
bool fillPiece(HINTERNET request, Piece& piece) {
    piece.length = 0;
    piece.last = false;
    const auto started = std::chrono::steady_clock::now();
    while (piece.length < kPieceBytes) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            piece.last = true;
            return false;
        }
        DWORD read = 0;
        if (available == 0 ||
            !WinHttpReadData(request, piece.bytes.data() + piece.length,
                             std::min<DWORD>(available, kPieceBytes - piece.length), &read) ||
            read == 0) {
            piece.last = true;
            return available == 0;
        }
        piece.length += read;
        if (std::chrono::steady_clock::now() - started >= kHandOnAfter) {
            break;
        }
    }
    return true;
}

DWORD WINAPI writePieces(LPVOID parameter) {
    auto& pipeline = *static_cast<Pipeline*>(parameter);
    const std::uint64_t keptBefore = pipeline.partial.kept;
    for (size_t index = 0;; index = (index + 1) % kPieceCount) {
        waitFor(pipeline, [&pipeline] { return pipeline.filled > 0; });
        const Piece& piece = pipeline.pieces[index];
        const Failure failure =
            piece.length == 0 ? Failure{} : writeToPartial(pipeline.partial, piece.bytes.data(), piece.length);
        if (!failure && piece.length != 0) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - pipeline.start).count();
            pipeline.reportProgress(computeProgress(pipeline.partial.kept, pipeline.partial.record.total,
                                                    pipeline.partial.kept - keptBefore, elapsed));
        }
        const bool last = piece.last;
        pipeline.writeFailure = failure;
        handOver(pipeline, false, static_cast<bool>(failure));
        if (failure || last) {
            return 0;
        }
    }
}

}  // namespace

Failure streamBody(HINTERNET request, PartialFile& partial, const ProgressSink& reportProgress) {
    Pipeline pipeline{request, partial, std::chrono::steady_clock::now(), reportProgress, {}};
    for (Piece& piece : pipeline.pieces) {
        piece.bytes.resize(kPieceBytes);
    }
    const OwnedKernelHandle writer(CreateThread(nullptr, 0, writePieces, &pipeline, 0, nullptr));
    if (!writer) {
        return {FailureStep::Download, FailureKind::System, 0, GetLastError()};
    }
    DWORD readError = 0;
    bool readsSucceeded = true;
    for (size_t index = 0;; index = (index + 1) % kPieceCount) {
        if (waitFor(pipeline, [&pipeline] { return pipeline.filled < kPieceCount || pipeline.writeFailed; })) {
            break;
        }
        Piece& piece = pipeline.pieces[index];
        readsSucceeded = fillPiece(request, piece);
        readError = readsSucceeded ? 0 : GetLastError();
        handOver(pipeline, true, false);
        if (piece.last) {
            break;
        }
    }
    WaitForSingleObject(writer.get(), INFINITE);
    if (waitFor(pipeline, [] { return true; })) {
        return pipeline.writeFailure;
    }
    if (!readsSucceeded) {
        return {FailureStep::Download, FailureKind::Unreachable, 0, readError};
    }
    return {};
}
