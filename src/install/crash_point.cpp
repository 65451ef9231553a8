#ifdef NIRVA_CRASH_POINTS

#include "install/crash_point.h"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <optional>

namespace {

// In the order of CrashStep.
constexpr const wchar_t* kStepNames[] = {L"stopped",   L"cleaned", L"moved-aside", L"extracting",
                                         L"extracted", L"swapped", L"refused",     L"taken-aside"};
constexpr UINT kCrashExitCode = 3;

}  // namespace

void crashPointReached(CrashStep step) {
    wchar_t wanted[16];
    const DWORD length = GetEnvironmentVariableW(L"NIRVA_CRASH_AT", wanted, std::size(wanted));
    if (length > 0 && length < std::size(wanted) && lstrcmpW(wanted, kStepNames[static_cast<int>(step)]) == 0) {
        TerminateProcess(GetCurrentProcess(), kCrashExitCode);
    }
}

namespace {

std::optional<DWORD> milliseconds(const wchar_t* variable) {
    wchar_t value[16];
    const DWORD length = GetEnvironmentVariableW(variable, value, std::size(value));
    if (length == 0 || length >= std::size(value)) {
        return std::nullopt;
    }
    return static_cast<DWORD>(std::wcstoul(value, nullptr, 10));
}

}  // namespace

std::uint64_t firstStartBoundMs(std::uint64_t bound) {
    const std::optional<DWORD> bounded = milliseconds(L"NIRVA_FIRST_START_MS");
    return bounded ? *bounded : bound;
}

void pauseUnpackingForTests() {
    if (const std::optional<DWORD> delay = milliseconds(L"NIRVA_UNPACK_DELAY_MS")) {
        Sleep(*delay);
    }
}

void applyHoldBoundsSwitch(HoldBounds& bounds) {
    if (const std::optional<DWORD> total = milliseconds(L"NIRVA_HOLD_BOUND_MS")) {
        bounds.totalMs = *total;
        bounds.steadyMs = *total / 3;
    }
}

#endif
