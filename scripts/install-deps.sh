#!/usr/bin/env bash
# Installs the Debian packages Plimsy needs, but only those that are missing:
# on a ready machine this costs one dpkg-query and nothing else.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build zlib1g-dev libfmt-dev libcli11-dev
  # the window, and the display server and image tools for its screenshots
  qt6-base-dev fonts-dejavu-core xvfb xauth imagemagick
  # tests
  libgtest-dev libgmock-dev clang libclang-rt-14-dev
  # other people's tools that the interop tests and benchmarks run
  zip unzip 7zip libarchive-tools python3 epubcheck pandoc time
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
