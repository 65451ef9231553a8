#include "common/failure.h"

std::uint32_t failureCode(const Failure& failure) {
    if (failure.kind == FailureKind::HttpStatus && failure.httpStatus != 0) {
        return failure.httpStatus;
    }
    return failure.systemError;
}

const char* failureStepName(FailureStep step) {
    switch (step) {
        case FailureStep::None: return "none";
        case FailureStep::Check: return "check";
        case FailureStep::Access: return "access";
        case FailureStep::Download: return "download";
        case FailureStep::Stop: return "stop";
        case FailureStep::MoveAside: return "moveaside";
        case FailureStep::Unpack: return "unpack";
        case FailureStep::Verify: return "verify";
        case FailureStep::Swap: return "swap";
        case FailureStep::Rollback: return "rollback";
        case FailureStep::SelfUpdate: return "selfupdate";
        case FailureStep::Start: return "start";
        case FailureStep::Report: return "report";
    }
    return "unknown";
}

const char* failureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::None: return "none";
        case FailureKind::Unreachable: return "unreachable";
        case FailureKind::PinRefused: return "pin";
        case FailureKind::HttpStatus: return "status";
        case FailureKind::BadAnswer: return "answer";
        case FailureKind::Signature: return "signature";
        case FailureKind::DigestFormat: return "digestformat";
        case FailureKind::DigestMismatch: return "digest";
        case FailureKind::SizeFormat: return "sizeformat";
        case FailureKind::TooLarge: return "toolarge";
        case FailureKind::GaveUp: return "gaveup";
        case FailureKind::Disk: return "disk";
        case FailureKind::System: return "system";
        case FailureKind::BadPackage: return "package";
        case FailureKind::WrongRelease: return "release";
        case FailureKind::NoWindow: return "nowindow";
    }
    return "unknown";
}
