# shellcheck shell=bash
# Sourced by the commands in scripts/, and run in the chroots: installs what
# the viewer, its tests and checks need (the same names in Debian 12 and 13).
packages=(
  dpkg-dev lintian desktop-file-utils debootstrap netpbm
  cmake make g++ clang libclang-rt-dev clang-format pkg-config python3
  libglfw3-dev libglm-dev libstb-dev zlib1g-dev python3-glad libx11-dev libegl-dev libegl1 libegl-mesa0
  openbox xterm
  libgl1-mesa-dri libglx-mesa0 mesa-vulkan-drivers xvfb xdotool x11-utils imagemagick
  weston xwayland apitrace valgrind appstream man-db shellcheck flake8 python3-pil
)
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
