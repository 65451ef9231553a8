#pragma once

// Why a check or an update did not get through, carried as a value from
// where it happened to whoever records it (the support log, the outcome
// report). The user never sees it: the boxes and texts are the same whatever
// the cause; a support person or the vendor needs to tell a pin mismatch
// from a 404 from a full disk.

#include <cstdint>

// Where in the run it failed, in the order a run meets them. Each is named
// as the logs and reports write it (failureStepName).
enum class FailureStep : std::uint8_t {
    None,        // nothing failed
    Check,       // asking the server which release is current
    Access,      // this user may not change the office folder: nothing can be installed
    Download,    // fetching or rebuilding the package
    Stop,        // stopping this office's running application and the release's programs
    MoveAside,   // removing leftovers and moving the application aside
    Unpack,      // unpacking the package into the staging folder
    Verify,      // the unpacked program and its version
    Swap,        // putting the staging folder in the application's place
    Rollback,    // putting the old application back after a failed step
    SelfUpdate,  // replacing the updater with the release's
    Start,       // the new release's first start, which must show a window
    // Not a step of an update: sending an outcome report, which is never
    // itself reported and never changes how a run ends.
    Report,
};

// What went wrong there.
enum class FailureKind : std::uint8_t {
    None,
    Unreachable,     // no answer: name, connection, TLS, a link that dropped
    PinRefused,      // the server's key matches no pin
    HttpStatus,      // an answer whose status the step cannot use
    BadAnswer,       // an answer that is not what was asked for (a body cut
                     // short or too long, a range that does not fit, no manifest)
    Signature,       // the manifest's signature does not verify
    DigestFormat,    // the manifest's sha256 is unreadable, or missing where
                     // the release key requires it
    DigestMismatch,  // the package's bytes are not the ones the digest names
    SizeFormat,      // the manifest's size is not a whole number of bytes
    TooLarge,        // more bytes than the download may write: past the
                     // ceiling, when the manifest names no size
    GaveUp,          // attempts that brought bytes, but never the whole file
    Disk,            // the disk refused a read or a write
    System,          // another Windows call failed
    BadPackage,      // the archive is refused: its names, methods or sizes
    WrongRelease,    // the package's program is missing or of another release
    NoWindow,        // the new release ended before it showed a window; the
                     // Windows error, when it could not be started at all
};

struct Failure {
    FailureStep step = FailureStep::None;
    FailureKind kind = FailureKind::None;
    // The status of the answer that failed the step, when one did.
    std::uint32_t httpStatus = 0;
    // The Windows or WinHTTP error number, when a call reported one; for a
    // release that ended before its window, its exit code.
    std::uint32_t systemError = 0;

    explicit operator bool() const { return step != FailureStep::None; }
    friend bool operator==(const Failure&, const Failure&) = default;
};

// The number an outcome report carries: the HTTP status when a status failed
// the step, else the Windows error, else 0.
std::uint32_t failureCode(const Failure& failure);

// Short lowercase words for logs and reports; stable, since the vendor's
// report tables are keyed by them.
const char* failureStepName(FailureStep step);
const char* failureKindName(FailureKind kind);
