#!/usr/bin/env bash
# As root: the README's shell blocks as written, in a fresh clone of the
# committed HEAD (tests/test_readme.py), checked against frames of the build
# tree's viewer. Its package block installs the package on this machine; the
# test purges it after.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests package
[ "$(id -u)" -eq 0 ] || { echo "scripts/test-readme.sh: needs root (the README installs the package)" >&2; exit 1; }

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$(nproc)" --target viewer preload >/dev/null
VIEWER=build/viewer SOURCE_DIR=$PWD PRELOAD_LIB=$PWD/build/tests/preload.so /usr/bin/python3 tests/test_readme.py
