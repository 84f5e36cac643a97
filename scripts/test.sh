#!/usr/bin/env bash
# Installs what is missing, builds the viewer and runs every test on a private
# X server with Mesa's software GL.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

# BUILD_DIR: the platform tests build in a directory of their own per release.
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$build" -j"$(nproc)"

start_xvfb
trap 'kill $xvfb_pid 2>/dev/null' EXIT
# llvmpipe offers core 4.5; the tests' runs ask it for 4.6.
export MESA_GL_VERSION_OVERRIDE=4.6 MESA_GLSL_VERSION_OVERRIDE=460
ctest --test-dir "$build" --output-on-failure
