#!/usr/bin/env bash
# Builds the Debian package with Debian's compiler flags for /usr (CPack, its
# dependencies by dpkg-shlibdeps) and checks it with lintian, which must find
# no error. Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh build package

build=${PACKAGE_BUILD_DIR:-build-package}
# Debian's compiler and linker flags, with all its hardening.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/*.deb)
# Errors fail the build; warnings are shown. Its notice about running as
# root is not.
lintian --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2)
readlink -f "$deb"
