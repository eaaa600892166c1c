#!/usr/bin/env bash
# unzip-vs-peers.sh [CORPUS ...]
#
# Times `plimsy-cli unzip EPUB OUTDIR --no-backup --quiet` against Info-ZIP
# `unzip -q -o`, 7-Zip `7zz x` and `bsdtar -xf` on the same archives (each
# corpus folder packed once by Info-ZIP zip at level 9), interleaved run by
# run, and prints per corpus the median wall time of each tool and its ratio
# to Info-ZIP unzip. Then times `plimsy-cli analyze ARCHIVE --log FILE`
# against `zipinfo -v ARCHIVE > /dev/null` on the last corpus given.
#
# Every run unpacks into a fresh folder; the folders are deleted only after
# all runs of a corpus (creating many files right after deleting many is slow
# on some file systems, and would be charged to whoever runs next).
#
# CORPUS names are those of the corpus generator (MAKE_CORPUS in
# bench/lib.sh); the default is "novel illustrated manyfiles". Targets: novel
# <= 0.6, illustrated <= 0.15, manyfiles <= 0.9 x Info-ZIP unzip; analyze of
# manyfiles <= 1.0 x zipinfo -v.
#
# Environment: as in bench/lib.sh; RUNS defaults to 5 for novel, 3 for the
# others.
# A corpus and its archive are made once and kept; delete them to remake them.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated manyfiles)
TOOLS=(plimsy infozip 7zip bsdtar)
UNPACKED=$WORK/unpacked

require_tools "$CLI" zip unzip zipinfo 7zz bsdtar python3 awk
"$CLI" unzip --help >/dev/null 2>&1 || { echo "unzip-vs-peers.sh: $CLI has no unzip command" >&2; exit 1; }

# Small books unpack in hundredths of a second: bash's clock times them all.
# Each round starts with the next tool (below), and the output of every run is
# kept until the corpus is done, so later runs meet a fuller file system: with
# a number of runs that is a multiple of the number of tools, every tool takes
# every place in the order once.
runs() {
  local n
  n=$(runs_for "$1" illustrated manyfiles bigtext)
  echo $(((n + ${#TOOLS[@]} - 1) / ${#TOOLS[@]} * ${#TOOLS[@]}))
}

unpack() {  # tool archive folder
  local tool=$1 archive=$2 folder=$3
  case $tool in
    plimsy) timed_wall "$WORK/$tool.times" "$CLI" unzip "$archive" "$folder" --no-backup --quiet ;;
    infozip) timed_wall "$WORK/$tool.times" unzip -q -o "$archive" -d "$folder" ;;
    7zip) timed_wall "$WORK/$tool.times" 7zz x -y -bso0 -bsp0 "-o$folder" "$archive" ;;
    bsdtar) mkdir -p "$folder" && timed_wall "$WORK/$tool.times" bsdtar -xf "$archive" -C "$folder" ;;
  esac
}

for name in "${CORPORA[@]}"; do
  ensure_corpus "$name"
  archive=$WORK/$name-level9.zip
  [ -f "$archive" ] || (cd "$CORPUS_DIR/$name" && zip -q -X -r -9 "$archive" .)
done

printf '%-12s %5s' corpus runs
for tool in "${TOOLS[@]}"; do printf ' %10s' "${tool}_s"; done
for tool in "${TOOLS[@]}"; do [ "$tool" = infozip ] || printf ' %10s' "$tool/iz"; done
printf '\n'
for name in "${CORPORA[@]}"; do
  archive=$WORK/$name-level9.zip
  rm -rf "$UNPACKED"
  mkdir -p "$UNPACKED"
  # One untimed round fills the page cache for all.
  for tool in "${TOOLS[@]}"; do unpack "$tool" "$archive" "$UNPACKED/warm-$tool"; done
  for tool in "${TOOLS[@]}"; do rm -f "$WORK/$tool.times"; done
  n=$(runs "$name")
  # Each round starts with the next tool, so that no tool always follows the
  # same one (the file system's state after a run is felt by the next).
  for ((i = 1; i <= n; i++)); do
    for ((k = 0; k < ${#TOOLS[@]}; k++)); do
      tool=${TOOLS[(i + k) % ${#TOOLS[@]}]}
      unpack "$tool" "$archive" "$UNPACKED/$tool-$i"
    done
  done
  printf '%-12s %5d' "$name" "$n"
  for tool in "${TOOLS[@]}"; do printf ' %10.3f' "$(median "$WORK/$tool.times")"; done
  base=$(median "$WORK/infozip.times")
  for tool in "${TOOLS[@]}"; do
    [ "$tool" = infozip ] || printf ' %10s' "$(ratio "$(median "$WORK/$tool.times")" "$base")"
  done
  printf '\n'
  rm -rf "$UNPACKED"
done

# The analysis of the last corpus's archive against zipinfo -v.
name=${CORPORA[${#CORPORA[@]} - 1]}
archive=$WORK/$name-level9.zip
rm -f "$WORK/analyze.times" "$WORK/zipinfo.times"
"$CLI" analyze "$archive" --log "$WORK/analysis.txt" --quiet
zipinfo -v "$archive" >/dev/null
n=$(( $(runs "$name") < 5 ? 5 : $(runs "$name") ))
for ((i = 1; i <= n; i++)); do
  timed_wall "$WORK/analyze.times" "$CLI" analyze "$archive" --log "$WORK/analysis.txt" --quiet
  timed_wall "$WORK/zipinfo.times" bash -c 'zipinfo -v "$1" >/dev/null' zipinfo "$archive"
done
printf '\n%-12s %5s %10s %10s %7s\n' corpus runs analyze_s zipinfo_s ratio
ours=$(median "$WORK/analyze.times")
theirs=$(median "$WORK/zipinfo.times")
printf '%-12s %5d %10.3f %10.3f %7s\n' "$name" "$n" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
rm -f "$WORK"/*.times "$WORK/analysis.txt"
