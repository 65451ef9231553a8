#include "install/start_verdict.h"

StartVerdict judgeFirstStart(const StartLook& look, std::uint64_t boundMs) {
    if (look.windowShown) {
        return StartVerdict::Healthy;
    }
    if (look.applicationExit && !look.running) {
        return StartVerdict::Failed;
    }
    return look.elapsedMs >= boundMs ? StartVerdict::Undecided : StartVerdict::Watching;
}
