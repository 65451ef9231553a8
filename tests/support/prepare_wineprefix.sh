#!/bin/sh
# Creates the build's Wine prefix once, before the tests share it.
# Usage: prepare_wineprefix.sh WINE_RUN
set -eu
wine_run=$1
prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")

if [ ! -f "$prefix/system.reg" ]; then
    "$wine_run" wineboot --init
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w
fi
echo "Wine prefix ready: $prefix"
