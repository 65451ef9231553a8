#!/bin/sh
# Creates the build's Wine prefix once, before the tests share it.
# Usage: prepare_wineprefix.sh WINE_RUN
set -eu
wine_run=$1
# The build's wine-run names it as the default of NIRVA_WINEPREFIX; the demo's plainly.
prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run" | sed 's/^\${NIRVA_WINEPREFIX:-\(.*\)}$/\1/')

if [ ! -f "$prefix/system.reg" ]; then
    "$wine_run" wineboot --init
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w
fi
# Xvfb has no window manager, yet Wine waits 2 s for one whenever a window it
# lets a window manager manage (a message box, the updater's window) is hidden.
# Unmanaged windows Wine places and activates itself, as nothing else would here.
if ! grep -q '^"Managed"="N"' "$prefix/user.reg"; then
    "$wine_run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w
fi
echo "Wine prefix ready: $prefix"
