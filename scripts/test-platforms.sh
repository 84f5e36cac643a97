#!/usr/bin/env bash
# Builds the viewer and runs the whole test suite in a Debian 13 chroot
# (GLFW 3.4, g++ 14, Mesa 25), as root, and prints one line per platform:
# release, driver and desktop, with the result. Other releases can be named:
# scripts/test-platforms.sh trixie bookworm.
#
# The chroot is kept in the cache (scripts/chroot.sh; VIEWER_CHROOT_CACHE) and
# reused by later runs; its mounts exist only in a private namespace for the
# length of each command. The build goes to build-RELEASE in this clone.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/chroot.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/test-platforms.sh: needs root (debootstrap, chroot and mounts)" >&2
  exit 1
fi
[ $# -gt 0 ] || set -- trixie

summary=()
failed=0
for release in "$@"; do
  started=$SECONDS
  tree=$(chroot_with_deps "$release")
  log=$(mktemp)
  status=0
  chroot_run "$tree" --bind "$PWD:/viewer" -- \
    env BUILD_DIR="build-$release" bash /viewer/scripts/test.sh 2>&1 | tee "$log" || status=$?
  # What the chroot is: release, GLFW, compiler, Mesa, weston, Xwayland.
  # shellcheck disable=SC2016
  read -r name glfw gxx mesa weston xwayland < <(chroot_run "$tree" -- bash -c '
    . /etc/os-release
    v() { dpkg-query -W -f="\${Version}" "$1" | sed "s/^[0-9]*://; s/[-+~].*//"; }
    echo "Debian-$VERSION_ID" "$(v libglfw3)" "$(v g++-$(g++ -dumpversion))" "$(v libgl1-mesa-dri)" \
      "$(v weston)" "$(v xwayland)"')
  where="${name/-/ } ($release), GLFW $glfw, g++ $gxx, Mesa $mesa"
  # CTest's result lines, counted by the platform each test stands for.
  declare -A total=() passed=()
  while read -r test result; do
    case "$test" in
    *_zink) key=zink ;;
    wayland_desktop) key=wayland ;;
    *) key=llvmpipe ;;
    esac
    total[$key]=$((${total[$key]:-0} + 1))
    if [ "$result" = Passed ]; then
      passed[$key]=$((${passed[$key]:-0} + 1))
    fi
  done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) [. ]*\**([A-Za-z]+).*/\1 \2/p' "$log")
  for key in llvmpipe zink wayland; do
    case "$key" in
    llvmpipe) what="llvmpipe (4.6 by override), X11 (Xvfb)" ;;
    zink) what="zink on lavapipe (native 4.6), X11 (Xvfb)" ;;
    wayland) what="llvmpipe (4.6 by override), Wayland (weston $weston with Xwayland $xwayland)" ;;
    esac
    if [ "${total[$key]:-0}" -gt 0 ] && [ "${passed[$key]:-0}" -eq "${total[$key]}" ]; then
      result="passed (${total[$key]} test$([ "${total[$key]}" -eq 1 ] || echo s))"
    else
      result="FAILED (${passed[$key]:-0} of ${total[$key]:-0} tests passed)"
      failed=1
    fi
    summary+=("$where, $what: $result")
  done
  [ "$status" -eq 0 ] || failed=1
  summary+=("  ($release: $((SECONDS - started)) s with chroot, build and tests)")
  rm -f "$log"
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
