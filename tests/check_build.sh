#!/usr/bin/env bash
# The program's own sources must build warning-free with clang++ as well as
# g++ (the default build), and be clang-format clean.
set -euo pipefail
source_dir=$1
build_dir=$2
cd "$source_dir"
find src tests tools fuzz -name '*.c' -o -name '*.cpp' -o -name '*.h' | xargs -r clang-format --dry-run --Werror
CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" --target viewer -j"$(nproc)" -- --quiet
