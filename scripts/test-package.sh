#!/usr/bin/env bash
# Installs what is missing, builds the Debian package (scripts/package.sh,
# which also runs lintian) and the build tree's viewer, then installs the
# package into throwaway copies of clean Debian 12 and 13 trees and runs it
# there (tests/test_package.py). Needs root. Arguments name the releases to
# test (default: bookworm trixie).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

packaged=$(scripts/package.sh)
echo "$packaged"
deb=$(tail -n1 <<<"$packaged")
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build build -j"$(nproc)" --target viewer preload >/dev/null
DEB=$deb VIEWER=build/viewer SOURCE_DIR=$PWD PRELOAD_LIB=$PWD/build/tests/preload.so \
  /usr/bin/python3 tests/test_package.py "$@"
