#!/usr/bin/env bash
# Installs the Debian packages Plimsy needs, but only those that are missing:
# on a ready machine this costs one dpkg-query and nothing else.
#
#   scripts/install-deps.sh            the Linux build and all its tests
#   scripts/install-deps.sh windows    the Windows cross build, and Wine for its tests
#   scripts/install-deps.sh linux windows   both
#
# The Windows group also makes Debian's source packages reachable (a deb-src
# entry for the archive the machine already uses): the Windows configure
# builds expat from Debian's `expat` source package (cmake/expat-windows.cmake).
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
  # expat's source package, fetched with apt-get source (dpkg-source unpacks
  # it) and built for Windows
  dpkg-dev
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
source_packages=no
[ $# -gt 0 ] || set -- linux
for group in "$@"; do
  case "$group" in
    linux) packages+=("${linux_packages[@]}") ;;
    windows)
      packages+=("${windows_packages[@]}")
      source_packages=yes
      ;;
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
# Source packages are reachable when apt knows expat's.
need_sources=no
if [ "$source_packages" = yes ]; then
  known=$(apt-cache showsrc expat 2>/dev/null || true)
  grep -q '^Package: expat$' <<<"$known" || need_sources=yes
fi
[ ${#missing[@]} -eq 0 ] && [ "$need_sources" = no ] && exit 0

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

# The archives that serve libexpat1 to this machine (URIs as its sources
# name them, without a trailing slash), one a line.
expat_archives() {
  apt-cache madison libexpat1 2>/dev/null | awk -F'|' '{ split($3, f, " "); sub("/$", "", f[1]); print f[1] }' | sort -u
}

# deb-src twins of the machine's own deb entries for those archives: deb822
# stanzas (*.sources) and one-line entries (sources.list, *.list), with their
# options (Signed-By, [signed-by=...]) kept. Entries for other archives are
# left out (they may have no sources at all).
deb_src_stanzas() {
  local archives=$1 file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v archives="$archives" '
      function flush() {
        if (stanza != "" && deb && enabled) {
          n = split(uris, u, " "); keep = 0
          for (i = 1; i <= n; i++) { x = u[i]; sub("/$", "", x); if (x in wanted) keep = 1 }
          if (keep) printf "Types: deb-src\n%s\n", stanza
        }
        stanza = ""; deb = 0; enabled = 1; uris = ""
      }
      BEGIN { n = split(archives, a, "\n"); for (i = 1; i <= n; i++) wanted[a[i]] = 1; enabled = 1 }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1; next }
      /^Enabled:/ { if (tolower($2) == "no") enabled = 0 }
      /^URIs:/ { uris = $0; sub("^URIs:", "", uris) }
      { stanza = stanza (stanza == "" ? "" : "\n") $0 }
      END { flush() }
    ' "$file"
  done
}
deb_src_lines() {
  local archives=$1 file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v archives="$archives" '
      BEGIN { n = split(archives, a, "\n"); for (i = 1; i <= n; i++) wanted[a[i]] = 1 }
      $1 != "deb" { next }
      {
        uri = ""
        for (i = 2; i <= NF; i++) {
          if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; continue }
          uri = $i; break
        }
        sub("/$", "", uri)
        if (uri in wanted) { line = $0; sub(/^deb[ \t]/, "deb-src ", line); print line }
      }
    ' "$file"
  done
}

add_deb_src() {
  local archives stanzas lines
  archives=$(expat_archives)
  if [ -z "$archives" ]; then
    # A machine whose package lists were never fetched.
    $sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" update -qq
    archives=$(expat_archives)
  fi
  if [ -z "$archives" ]; then
    echo "install-deps.sh: apt knows no archive that serves libexpat1 (run apt-get update first)" >&2
    exit 1
  fi
  stanzas=$(deb_src_stanzas "$archives")
  lines=$(deb_src_lines "$archives")
  if [ -z "$stanzas" ] && [ -z "$lines" ]; then
    echo "install-deps.sh: no deb entry in /etc/apt/sources.list* names the archive of libexpat1 ($archives)" >&2
    exit 1
  fi
  echo "Adding deb-src entries for $(echo "$archives" | tr '\n' ' ')(Debian's source packages)"
  if [ -n "$stanzas" ]; then
    printf '# Added by Plimsy'"'"'s scripts/install-deps.sh windows: source packages (expat).\n%s\n' \
      "$(echo "$stanzas" | awk 'NR > 1 && /^Types:/ { print "" } { print }')" |
      $sudo tee /etc/apt/sources.list.d/plimsy-deb-src.sources >/dev/null
  fi
  if [ -n "$lines" ]; then
    printf '# Added by Plimsy'"'"'s scripts/install-deps.sh windows: source packages (expat).\n%s\n' "$lines" |
      $sudo tee /etc/apt/sources.list.d/plimsy-deb-src.list >/dev/null
  fi
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ "$need_sources" = yes ]; then
  wait_for_package_manager
  add_deb_src
fi
[ ${#missing[@]} -eq 0 ] || echo "Installing missing packages: ${missing[*]}"
wait_for_package_manager
$sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" update -qq
[ ${#missing[@]} -eq 0 ] && exit 0
wait_for_package_manager
$sudo apt-get -o DPkg::Lock::Timeout="$lock_timeout" install -y -qq --no-install-recommends "${missing[@]}"
