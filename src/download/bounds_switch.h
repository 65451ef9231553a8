#pragma once

#include "download/bounds.h"

// The test build takes a lower ceiling and a higher floor of free space from
// NIRVA_DOWNLOAD_CEILING and NIRVA_FREE_SPACE_FLOOR (bytes), so that a test
// meets them with a few megabytes on any disk; the release build has no
// trace of it.
#ifdef NIRVA_BOUNDS_SWITCH
void applyBoundsSwitch(DownloadBounds& bounds);
#else
inline void applyBoundsSwitch(DownloadBounds&) {}
#endif
