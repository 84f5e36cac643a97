# shellcheck shell=bash
# Sourced by the commands in scripts/ with the groups each needs, and run in
# the chroots: installs the groups' packages that are missing (the same names
# in Debian 12 and 13). Usage: source scripts/deps.sh GROUP...
#   build     build the viewer, the check and the launcher's library, and run
#             them: run.sh's headless run (Xvfb, xdotool, ImageMagick's
#             import, the tests' preload)
#   tests     what the CTest suite runs besides: valgrind, apitrace, weston
#             and Xwayland, openbox and xterm (the watch's focus test),
#             zink's Vulkan driver, Pillow, the desktop checks
#   lint      clang, its fuzzer runtime, clang-format, shellcheck, flake8
#   package   the Debian package and its checks, and the chroots
declare -A deps_groups=(
  [build]="cmake make g++ pkg-config python3 libglfw3-dev libglm-dev libstb-dev zlib1g-dev python3-glad
    libegl-dev libegl1 libegl-mesa0 libgl1-mesa-dri libglx-mesa0 xvfb xdotool x11-utils imagemagick"
  [tests]="libx11-dev valgrind apitrace weston xwayland openbox xterm mesa-vulkan-drivers python3-pil netpbm
    desktop-file-utils appstream man-db"
  [lint]="clang libclang-rt-dev clang-format shellcheck flake8"
  [package]="dpkg-dev lintian desktop-file-utils debootstrap"
)
[ $# -gt 0 ] || { echo "scripts/deps.sh: name the groups to install: ${!deps_groups[*]}" >&2; exit 2; }
packages=()
for group in "$@"; do
  [ -n "${deps_groups[$group]:-}" ] || { echo "scripts/deps.sh: no group $group: ${!deps_groups[*]}" >&2; exit 2; }
  read -r -d '' -a names <<<"${deps_groups[$group]}" || true
  packages+=("${names[@]}")
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
