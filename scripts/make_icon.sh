#!/bin/sh
# Regenerates the executable's icon group (nine images, 16 to 256 pixels)
# from the one source image. Needs ImageMagick.
set -eu
cd "$(dirname "$0")/../res"
convert icon_source.png -define icon:auto-resize=256,128,64,48,40,32,24,20,16 nirva_updater.ico
