#ifdef NIRVA_BOUNDS_SWITCH

#include "download/bounds_switch.h"

#include "common/encoding.h"

#include <windows.h>

#include <iterator>

namespace {

void overrideFromEnvironment(const wchar_t* name, std::uint64_t& value) {
    wchar_t text[24];
    const DWORD length = GetEnvironmentVariableW(name, text, std::size(text));
    if (length > 0 && length < std::size(text)) {
        value = parseDecimal(text).value_or(value);
    }
}

}  // namespace

void applyBoundsSwitch(DownloadBounds& bounds) {
    overrideFromEnvironment(L"NIRVA_DOWNLOAD_CEILING", bounds.ceiling);
    overrideFromEnvironment(L"NIRVA_FREE_SPACE_FLOOR", bounds.freeSpaceFloor);
}

#endif
