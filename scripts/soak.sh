#!/usr/bin/env bash
# The long run: installs what is missing, builds, and runs the viewer for ten
# minutes (or SOAK_SECONDS) on a private X server, sampling its resident
# memory once a second. Passes when memory stays flat after warm-up (growth
# under 1 MiB) and frames are still being presented at the end; prints the
# measurements either way.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$(nproc)" --target viewer preload wm_close viewer_sanitized
SOAK_SECONDS=${SOAK_SECONDS:-600} ctest --test-dir build -R '^soak$' --verbose --timeout 3600
