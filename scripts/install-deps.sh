#!/usr/bin/env bash
# Installs the Debian packages Plimsy needs, but only those that are missing:
# on a ready machine this costs one dpkg-query and nothing else.
#
#   scripts/install-deps.sh            the Linux build and all its tests
#   scripts/install-deps.sh windows    the Windows cross build, and Wine for its tests
#   scripts/install-deps.sh linux windows   both
set -euo pipefail

linux_packages=(
  # build
  build-essential cmake ninja-build zlib1g-dev libexpat1-dev libfmt-dev libcli11-dev
  # the window, and the display server and image tools for its screenshots
  qt6-base-dev fonts-dejavu-core xvfb xauth imagemagick
  # tests
  libgtest-dev libgmock-dev clang libclang-rt-14-dev
  # other people's tools that the interop tests and benchmarks run
  zip unzip 7zip libarchive-tools python3 epubcheck pandoc time
  # a real epub with a broken container, for the repack test
  developers-reference
  # the Debian package (make package): CPack's dependencies from dpkg-shlibdeps,
  # and its checks: lintian, the validators of the desktop entry and the
  # AppStream metadata, xdg-mime, manual pages, bash completion
  dpkg-dev file lintian appstream desktop-file-utils xdg-utils man-db bash-completion
)

windows_packages=(
  # the cross build: MinGW-w64 (the -posix compilers, for std::thread), its
  # zlib, and the headers of {fmt} and CLI11, used header-only
  cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libfmt-dev libcli11-dev
  # GoogleTest's sources, built for Windows; Wine to run the tests; unzip to
  # check the portable zip
  googletest wine wine64 unzip
  # the programs' icon, and the installer
  imagemagick nsis
  # the window's tests and screenshots under Wine: a display server, a window
  # manager, keyboard and mouse from a script, and window look-ups (xwininfo,
  # xprop); ImageMagick's import takes the pictures
  xvfb openbox xdotool x11-utils
)

packages=()
[ $# -gt 0 ] || set -- linux
for group in "$@"; do
  case "$group" in
    linux) packages+=("${linux_packages[@]}") ;;
    windows) packages+=("${windows_packages[@]}") ;;
    *)
      echo "install-deps.sh: unknown group $group (linux, windows)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Another package manager at work (an unattended upgrade, a second apt-get)
# holds dpkg's and apt's lock files: wait for it, saying so once, for at most
# PLIMSY_APT_LOCK_TIMEOUT seconds (10 minutes). apt-get waits for dpkg's lock
# itself as well, for whatever time is left, should another one take it
# between the two.
lock_files=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock)
# lock_holder: "NAME, pid PID" of a process that holds one of the lock files
# (a POSIX lock, as dpkg and apt take them, listed in /proc/locks), and
# status 0; status 1 when none is held.
lock_holder() {
  local file inode pid
  [ -r /proc/locks ] || return 1
  for file in "${lock_files[@]}"; do
    inode=$(stat -c %i "$file" 2>/dev/null) || continue
    # "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF": the pid, then device:inode.
    pid=$(awk -v inode="$inode" '$2 != "->" && $6 ~ (":" inode "$") { print $5; exit }' /proc/locks)
    if [ -n "$pid" ] && [ "$pid" != "$$" ] && [ -d "/proc/$pid" ]; then
      echo "$(cat "/proc/$pid/comm" 2>/dev/null || echo unknown), pid $pid"
      return 0
    fi
  done
  return 1
}
lock_timeout=${PLIMSY_APT_LOCK_TIMEOUT:-600}
wait_for_package_manager() {
  local holder said="" start=$SECONDS
  while holder=$(lock_holder); do
    if [ $((SECONDS - start)) -ge "$lock_timeout" ]; then
      echo "install-deps.sh: another package manager ($holder) still holds its lock after ${lock_timeout} s;" \
        "run this again when it has finished" >&2
      exit 1
    fi
    if [ "$said" != "$holder" ]; then
      echo "install-deps.sh: waiting for another package manager ($holder) to finish…"
      said=$holder
    fi
    sleep 2
  done
  lock_timeout=$((lock_timeout - (SECONDS - start)))
  [ "$lock_timeout" -gt 0 ] || lock_timeout=1
}

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
wait_for_package_manager
$sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" update -qq
wait_for_package_manager
$sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" install -y -qq --no-install-recommends "${missing[@]}"
