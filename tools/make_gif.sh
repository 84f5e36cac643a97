#!/bin/sh
# Draws docs/scene.gif, the README's moving picture of the shipped scene: one
# turn of the light (2 pi s) in 24 frames, each written by `viewer --shot`,
# joined by ImageMagick at 640x360, each frame shown for the 0.26 s it covers.
# Usage: tools/make_gif.sh [VIEWER_COMMAND]   (default: the viewer on PATH)
set -eu
cd "$(dirname "$0")/.."
viewer=${1:-viewer}
frames=$(mktemp -d)
trap 'rm -rf "$frames"' EXIT
# 2 pi / 24 = 0.2617993878 s a frame; the 24th starts at 6.0214 s.
"$viewer" --shot "$frames/frame-%02d.png" --at 0 --until 6.0214 --step 0.2617993878
convert -delay 26 -loop 0 "$frames"/frame-*.png -resize 640x360 -colors 48 +dither -layers Optimize docs/scene.gif
ls -l docs/scene.gif
