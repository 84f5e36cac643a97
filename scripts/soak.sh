#!/usr/bin/env bash
# The long run: the soak test for ten minutes (or SOAK_SECONDS); passes when
# resident memory stays flat after warm-up and frames still come at the end.
# Built in build-soak: the length, and the test's time limit with it, are
# fixed when the tree is configured.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests

cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DPython3_EXECUTABLE=/usr/bin/python3 \
  -DVIEWER_SOAK_SECONDS="${SOAK_SECONDS:-600}" >/dev/null
cmake --build build-soak -j"$(nproc)" --target viewer preload wm_close viewer_sanitized
ctest --test-dir build-soak -R '^soak$' --verbose
