# Sourced by the run and test commands, and run in the platform tests' Debian
# 13 chroot: installs the packages the viewer and its tests need, when any is
# missing. The names are the same in Debian 12 and 13.
packages=(
  dpkg-dev lintian desktop-file-utils debootstrap
  cmake make g++ clang libclang-rt-dev clang-format pkg-config python3
  libglfw3-dev libglm-dev libstb-dev python3-glad libx11-dev
  libgl1-mesa-dri libglx-mesa0 mesa-vulkan-drivers xvfb xdotool x11-utils imagemagick
  weston xwayland apitrace valgrind appstream man-db
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

# Starts a private X server on a free display and exports DISPLAY; the caller
# kills $xvfb_pid when done.
start_xvfb() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local n
  read -r -t 20 n <"$fifo"
  rm -f "$fifo"
  [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$n"
}
