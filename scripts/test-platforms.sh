#!/usr/bin/env bash
# As root: the whole test suite (scripts/test.sh) in a Debian chroot, trixie
# unless releases are named, built in build-RELEASE; prints a line a release
# with its GLFW, compiler, Mesa and compositor. Chroots: scripts/chroot.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh package
source scripts/chroot.sh
[ "$(id -u)" -eq 0 ] || { echo "scripts/test-platforms.sh: needs root (debootstrap, chroot and mounts)" >&2; exit 1; }
[ $# -gt 0 ] || set -- trixie

summary=()
failed=0
for release in "$@"; do
  started=$SECONDS
  tree=$(chroot_with_deps "$release")
  log=$(mktemp)
  result=passed
  chroot_run "$tree" --bind "$PWD:/viewer" -- \
    env BUILD_DIR="build-$release" bash /viewer/scripts/test.sh 2>&1 | tee "$log" || { result=FAILED; failed=1; }
  # shellcheck disable=SC2016
  versions=$(chroot_run "$tree" -- bash -c '
    . /etc/os-release
    v() { dpkg-query -W -f="\${Version}" "$1" | sed "s/^[0-9]*://; s/[-+~].*//"; }
    echo "Debian $VERSION_ID ($VERSION_CODENAME), GLFW $(v libglfw3), g++ $(v g++-"$(g++ -dumpversion)"),"\
      "Mesa $(v libgl1-mesa-dri), weston $(v weston) with Xwayland $(v xwayland)"')
  summary+=("$versions: $result, $(grep -E 'tests passed' "$log" || echo 'no test ran') in $((SECONDS - started)) s")
  rm -f "$log"
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
