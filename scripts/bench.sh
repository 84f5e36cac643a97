#!/usr/bin/env bash
# Benchmark of the viewer on a private Xvfb with Mesa's software GL, kept out
# of the tests: frame rate, CPU time per frame and pacing of the viewer, of
# simpler shader pairs and of a clear-and-swap floor; their ratios within
# each round; start-up; peak memory; instructions per frame. Prints its
# tables; takes a few minutes. Arguments go to tools/bench.py (--runs,
# --frames, --no-callgrind, ...); BENCH_BUILD_DIR names another build
# directory (default build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVIEWER_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target viewer preload bench_floor >/dev/null
exec /usr/bin/python3 tools/bench.py --build "$build" "$@"
