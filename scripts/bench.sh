#!/usr/bin/env bash
# Benchmark of the viewer against simpler shader pairs and a clear-and-swap
# floor on a private Xvfb (tools/bench.py, which takes the arguments); prints
# its tables in a few minutes. BENCH_BUILD_DIR: the build (build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVIEWER_BENCH=ON >/dev/null
# The install tree too, for viewer --watch's latency.
cmake --build "$build" -j"$(nproc)" --target viewer viewer-check viewer_install_files preload bench_floor >/dev/null
exec /usr/bin/python3 tools/bench.py --build "$build" "$@"
