#!/usr/bin/env bash
# The checks that read the code rather than run the viewer: the formatter, the
# shell and Python linters, a warning-free clang++ build, a minute of fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests lint

git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
shellcheck scripts/*.sh .ci/run
shellcheck --shell=sh packaging/viewer.in
git ls-files '*.py' | xargs flake8 --max-line-length=120
CC=clang CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DVIEWER_WERROR=ON >/dev/null
cmake --build build-clang -j"$(nproc)" >/dev/null
FUZZ_SECONDS=60 FUZZ_BUILD_DIR=build-fuzz-minute bash scripts/fuzz.sh
echo "lint: clean"
