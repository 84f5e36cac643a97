#!/usr/bin/env bash
# Fuzzes the image step with clang's libFuzzer and sanitizers for FUZZ_SECONDS
# (1800) from a seed of every format; fails on a finding, left in the build's
# findings/. The inputs that ever failed are replayed by the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build lint

build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-1800}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVIEWER_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target fuzz_image -j"$(nproc)" >/dev/null
fuzzer=$build/fuzz_image
# 2 GiB and a minute an input: more is a finding. A small file that declares
# millions of pixels takes seconds under the sanitizers, far from a minute.
limits=(-rss_limit_mb=2048 -timeout=60)

rm -rf "$build/seeds" "$build/findings"
mkdir -p "$build/corpus" "$build/findings"
/usr/bin/python3 fuzz/make_seeds.py "$build/seeds"
status=0
start=$SECONDS
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$build/findings/" "$build/corpus" "$build/seeds" >"$build/fuzz.log" 2>&1 || status=$?
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz.log")
coverage=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*' "$build/fuzz.log" | tail -n 1)
# libFuzzer also keeps inputs that took over 10 s, as slow-unit-*: a report,
# not a failure.
findings=$(find "$build/findings" -type f ! -name 'slow-unit-*' | wc -l)
slow=$(find "$build/findings" -type f -name 'slow-unit-*' | wc -l)
echo "fuzz: ${executions:-0} executions in $((SECONDS - start)) s; ${coverage:-no coverage line} (edges, features, corpus inputs); $findings findings; $slow inputs over 10 s"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  grep -E -A 30 '^==[0-9]+==ERROR|runtime error|^SUMMARY' "$build/fuzz.log" | head -n 60
  echo "fuzz: findings in $build/findings/; once fixed, keep each in fuzz/regressions/"
  exit 1
fi
