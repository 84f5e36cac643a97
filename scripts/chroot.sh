# shellcheck shell=bash
# Sourced by the platform and package commands, as root: Debian trees cached
# outside any clone ($VIEWER_CHROOT_CACHE, or /var/cache/viewer-chroots).
#   chroot_base RELEASE, chroot_with_deps RELEASE  print the pristine minbase
#     tree, or one with the packages scripts/test.sh installs, each made on first use
#   chroot_copy RELEASE DEST  makes DEST a fresh copy; rm -rf DEST is safe
#   chroot_run DIR [--bind HOST:GUEST]... -- COMMAND...  runs COMMAND in DIR
#     with /proc, /dev, /sys, a tmpfs /tmp, resolv.conf and the binds mounted
#     in a private mount and pid namespace, which end with COMMAND or when
#     chroot_run is killed; the environment is clean: pass variables with env.

chroot_cache() {
  echo "${VIEWER_CHROOT_CACHE:-/var/cache/viewer-chroots}"
}

# Makes PATH by running MAKE... with PATH.partial appended, renaming it when
# that succeeds, under a lock: an interrupted run, or two at once, leave no
# half tree behind the real name.
chroot_make() {
  local path=$1 lock status=0
  shift
  mkdir -p "$(dirname "$path")"
  exec {lock}>"$path.lock" || return 1
  flock "$lock"
  if [ ! -d "$path" ]; then
    rm -rf "$path.partial"
    if "$@" "$path.partial"; then mv -T "$path.partial" "$path"; else rm -rf "$path.partial" && status=1; fi
  fi
  exec {lock}>&-
  return "$status"
}

chroot_debootstrap() {
  local status=0
  echo "Making a $1 minbase tree in $2 (debootstrap, a few minutes)" >&2
  # debootstrap mounts /proc and /sys in the tree while it works; in a
  # private namespace they cannot outlive it, even when it is killed.
  chroot_ns debootstrap --variant=minbase "$1" "$2" http://deb.debian.org/debian >"$2.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || tail -n 20 "$2.log" >&2
  rm -f "$2.log"
  return "$status"
}

chroot_base() {
  local base
  base="$(chroot_cache)/$1-base"
  [ -d "$base" ] || chroot_make "$base" chroot_debootstrap "$1" || return 1
  echo "$base"
}

chroot_copy() {
  local base
  base=$(chroot_base "$1") || return 1
  rm -rf "$2"
  cp -a --reflink=auto "$base" "$2"
}

chroot_deps() {
  chroot_run "$1" --bind "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd):/viewer-scripts" -- \
    bash /viewer-scripts/deps.sh build tests
}

chroot_copy_with_deps() {
  echo "Installing the project's packages into a copy of the $1 tree" >&2
  chroot_copy "$1" "$2" && chroot_deps "$2"
}

chroot_with_deps() {
  local tree
  tree="$(chroot_cache)/$1-deps"
  if [ -d "$tree" ]; then
    chroot_deps "$tree" >&2 || return 1
  else
    chroot_make "$tree" chroot_copy_with_deps "$1" >&2 || return 1
  fi
  echo "$tree"
}

# Runs COMMAND in private mount and pid namespaces, which end with it or with
# unshare (--kill-child). A namespace's first process ignores signals it has
# no handler for, and unshare holds them back, so SIGINT and SIGTERM become
# SIGKILL.
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
  while [ "${1:-}" = --bind ]; do
    binds+=("$2")
    shift 2
  done
  [ "${1:-}" = -- ] || { echo "chroot_run: DIR [--bind HOST:GUEST]... -- COMMAND..." >&2; exit 2; }
  shift
  # The inner shell's script, quoted whole, is the namespace's first process.
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
