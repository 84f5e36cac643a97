#!/usr/bin/env bash
# The long run: the soak test for ten minutes (or SOAK_SECONDS); passes when
# resident memory stays flat after warm-up and frames still come at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$(nproc)" --target viewer preload wm_close viewer_sanitized
SOAK_SECONDS=${SOAK_SECONDS:-600} ctest --test-dir build -R '^soak$' --verbose --timeout 3600
