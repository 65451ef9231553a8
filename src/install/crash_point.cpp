#ifdef NIRVA_CRASH_POINTS

#include "install/crash_point.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

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

std::uint64_t firstStartBoundMs(std::uint64_t bound) {
    wchar_t text[16];
    const DWORD length = GetEnvironmentVariableW(L"NIRVA_FIRST_START_MS", text, std::size(text));
    return length > 0 && length < std::size(text) ? std::wcstoull(text, nullptr, 10) : bound;
}

void pauseUnpackingForTests() {
    wchar_t delay[16];
    const DWORD length = GetEnvironmentVariableW(L"NIRVA_UNPACK_DELAY_MS", delay, std::size(delay));
    if (length > 0 && length < std::size(delay)) {
        Sleep(static_cast<DWORD>(std::wcstoul(delay, nullptr, 10)));
    }
}

#endif
