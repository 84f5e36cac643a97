#!/usr/bin/env bash
# Builds the viewer and what installing it needs (the scene check, the
# launcher's library, menu icons, changelog), so that "cmake --install build"
# can follow, and starts it from the repository root. With no X display it
# runs it on a private Xvfb for 60 frames, counted by the tests' preload,
# saves a screenshot and ends it with Escape.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  cmake --build build -j"$(nproc)" --target viewer viewer-check launch viewer_install_files
  exec ./build/viewer
fi

echo "No X display: running the viewer on a private Xvfb with software GL."
cmake --build build -j"$(nproc)" --target viewer viewer-check launch viewer_install_files preload
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 display <"$fifo"
rm -f "$fifo"
frames=$(mktemp)
trap 'kill $xvfb 2>/dev/null; rm -f "$frames"' EXIT
export DISPLAY=":$display"
MESA_GL_VERSION_OVERRIDE=4.6 MESA_GLSL_VERSION_OVERRIDE=460 LD_PRELOAD=$PWD/build/tests/preload.so \
  VIEWER_FRAMES_FILE=$frames ./build/viewer &
viewer=$!
deadline=$((SECONDS + 120))
until [ "$(grep -c '^frame ' "$frames")" -ge 60 ]; do
  kill -0 "$viewer"
  [ "$SECONDS" -lt "$deadline" ] || { echo "scripts/run.sh: the viewer drew no 60 frames in 120 s" >&2; exit 1; }
  sleep 0.1
done
window=$(xdotool search --name '^title$' | head -n1)
shot=${SCREENSHOT:-$PWD/build/screenshot.png}
import -window root "$shot"
# Held over a few frames, as a person's press is: the viewer polls once a frame.
xdotool windowfocus --sync "$window" keydown Escape sleep 0.3 keyup Escape
wait "$viewer"
echo "Screenshot: $shot"
