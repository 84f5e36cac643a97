# shellcheck shell=bash
# Sourced by the platform and package commands: Debian chroots kept in a cache
# outside any clone, and a way to run commands in them that leaves nothing
# mounted behind.
#
#   chroot_cache
#       Prints the cache directory: $VIEWER_CHROOT_CACHE, by default
#       /var/cache/viewer-chroots.
#   chroot_base RELEASE
#       RELEASE is bookworm or trixie. Prints the path of a pristine
#       debootstrap --variant=minbase tree of that release (from
#       deb.debian.org), made on first use and never changed afterwards. It is
#       built under a temporary name and renamed when complete, so an
#       interrupted first run leaves no half tree behind the real name. Needs
#       root.
#   chroot_copy RELEASE DEST
#       Makes DEST a fresh, writable copy of that pristine tree. The caller
#       removes DEST when done; nothing is ever mounted under it outside a
#       private namespace, so rm -rf is safe.
#   chroot_with_deps RELEASE
#       Prints the path of the cached build-and-test tree of that release: the
#       pristine tree plus the project's packages (scripts/deps.sh), made on
#       first use the same way. Every call runs deps.sh in it again, which
#       installs whatever the package list has gained since.
#   chroot_run DIR [--bind HOST:GUEST]... -- COMMAND...
#       Runs COMMAND as root in the chroot DIR and returns its exit status.
#       /proc, /dev (with /dev/pts and /dev/shm), /sys, an empty tmpfs /tmp,
#       the host's /etc/resolv.conf and each HOST:GUEST bind exist only in a
#       private mount namespace, with a pid namespace of its own: when COMMAND
#       ends, or chroot_run is killed, every process in it dies and every
#       mount goes with it. COMMAND starts with a clean environment (PATH,
#       HOME=/root, LANG=C.UTF-8); pass variables with env VAR=VALUE COMMAND.

chroot_mirror=http://deb.debian.org/debian

chroot_cache() {
  echo "${VIEWER_CHROOT_CACHE:-/var/cache/viewer-chroots}"
}

# Builds a tree under a temporary name beside PATH with the given function and
# renames it to PATH when that succeeds. A leftover from an interrupted run is
# removed first; its mounts, if any, died with its namespace. A lock beside it
# keeps two commands that start at once from building the same tree.
chroot_make() {
  local path=$1 make=$2 tmp lock status=0
  shift 2
  tmp="$path.partial"
  mkdir -p "$(dirname "$path")"
  exec {lock}>"$path.lock" || return 1
  flock "$lock"
  if [ ! -d "$path" ]; then
    rm -rf "$tmp"
    if "$make" "$tmp" "$@"; then
      mv -T "$tmp" "$path"
    else
      rm -rf "$tmp"
      status=1
    fi
  fi
  exec {lock}>&-
  return "$status"
}

chroot_debootstrap() {
  local dest=$1 release=$2 log
  if ! command -v debootstrap >/dev/null; then
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
      --no-install-recommends debootstrap >/dev/null
  fi
  mkdir -p "$dest"
  log="$dest.log"
  echo "Making a $release minbase tree in $dest (debootstrap, a few minutes)" >&2
  # debootstrap mounts /proc and /sys in the tree while it works; in a
  # private namespace they cannot outlive it, even when it is killed.
  if ! chroot_ns debootstrap --variant=minbase "$release" "$dest" "$chroot_mirror" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    return 1
  fi
  rm -f "$log"
}

chroot_base() {
  local release=$1 base
  case "$release" in
  bookworm | trixie) ;;
  *)
    echo "chroot_base: unknown release '$release' (bookworm or trixie)" >&2
    return 2
    ;;
  esac
  base="$(chroot_cache)/$release-base"
  if [ ! -d "$base" ]; then
    mkdir -p "$(chroot_cache)"
    chroot_make "$base" chroot_debootstrap "$release" || return 1
  fi
  echo "$base"
}

chroot_copy() {
  local release=$1 dest=$2 base
  base=$(chroot_base "$release") || return 1
  rm -rf "$dest"
  cp -a --reflink=auto "$base" "$dest"
}

chroot_install_deps() {
  local dest=$1 release=$2 repo
  repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  chroot_copy "$release" "$dest" || return 1
  chroot_run "$dest" --bind "$repo/scripts:/viewer-scripts" -- \
    bash -c 'source /viewer-scripts/deps.sh'
}

chroot_with_deps() {
  local release=$1 tree repo
  chroot_base "$release" >/dev/null || return 1
  tree="$(chroot_cache)/$release-deps"
  repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  if [ ! -d "$tree" ]; then
    echo "Installing the project's packages into a copy of the $release tree" >&2
    chroot_make "$tree" chroot_install_deps "$release" >&2 || return 1
  else
    chroot_run "$tree" --bind "$repo/scripts:/viewer-scripts" -- \
      bash -c 'source /viewer-scripts/deps.sh' >&2 || return 1
  fi
  echo "$tree"
}

# Runs COMMAND in a private mount namespace with a pid namespace of its own
# and returns its status. When COMMAND ends, or unshare dies (--kill-child),
# the kernel kills everything left in the pid namespace, and the mount
# namespace and its mounts go with the last of them. unshare holds SIGINT and
# SIGTERM back until its child ends, and the first process of a namespace
# ignores signals it has no handler for, so this shell turns either into
# SIGKILL for unshare.
chroot_ns() (
  unshare --mount --propagation private --pid --fork --kill-child "$@" <&0 &
  pid=$!
  trap 'kill -KILL "$pid" 2>/dev/null' INT TERM HUP
  status=0
  wait "$pid" || status=$?
  while kill -0 "$pid" 2>/dev/null; do
    status=0
    wait "$pid" || status=$?
  done
  exit "$status"
)

chroot_run() (
  dir=$(cd "$1" && pwd) || exit 2
  shift
  binds=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case "$1" in
    --bind)
      binds+=("$2")
      shift 2
      ;;
    *)
      echo "chroot_run: unknown option '$1'" >&2
      exit 2
      ;;
    esac
  done
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || { echo "chroot_run: no command" >&2; exit 2; }
  # COMMAND is the namespace's first process, so the namespace, its mounts
  # included, ends with it. The script is the inner shell's, quoted whole.
  # shellcheck disable=SC2016
  chroot_ns bash -c '
    set -e
    dir=$1
    shift
    mount -t proc proc "$dir/proc"
    mount --rbind /sys "$dir/sys"
    mount --rbind /dev "$dir/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$dir/tmp"
    if [ -L "$dir/etc/resolv.conf" ] || [ ! -e "$dir/etc/resolv.conf" ]; then
      rm -f "$dir/etc/resolv.conf"
      touch "$dir/etc/resolv.conf"
    fi
    mount --bind /etc/resolv.conf "$dir/etc/resolv.conf"
    while [ "$1" != -- ]; do
      host=${1%%:*}
      guest=$dir${1#*:}
      if [ -d "$host" ]; then mkdir -p "$guest"; else mkdir -p "$(dirname "$guest")"; touch "$guest"; fi
      mount --bind "$host" "$guest"
      shift
    done
    shift
    exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" "$@"
  ' chroot_run "$dir" "${binds[@]}" -- "$@"
)
