#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and the build tree's viewer,
# then installs and runs the package in clean Debian trees, as root
# (tests/test_package.py). Arguments: releases (default bookworm trixie).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build tests package

packaged=$(scripts/package.sh)
echo "$packaged"
deb=$(tail -n1 <<<"$packaged")
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$(nproc)" --target viewer preload >/dev/null
DEB=$deb VIEWER=build/viewer SOURCE_DIR=$PWD PRELOAD_LIB=$PWD/build/tests/preload.so \
  /usr/bin/python3 tests/test_package.py "$@"
