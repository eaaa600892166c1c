#!/usr/bin/env bash
# shellcheck disable=SC2016  # the bash -c scripts take their arguments as $1, $2
# unzip-vs-peers.sh [CORPUS ...]
#
# Times `plimsy-cli unzip EPUB OUTDIR --no-backup --quiet` against other tools
# unpacking the same archive (each corpus folder packed once by Info-ZIP at
# level 9), then `plimsy-cli analyze ARCHIVE --log FILE` against `zipinfo -v
# ARCHIVE > /dev/null` (and, for reference, `zipinfo -v` writing its listing
# to a file, as analyze writes its log), run after run in a rotating order (every tool in every
# place equally often). Prints one row per corpus and tool: median wall time,
# its ratio to the baseline's median (Info-ZIP unzip; zipinfo -v) with the
# range of the runs, and peak memory (largest resident set).
#
#   plimsy        plimsy-cli unzip on all cores
#   plimsy-1core  the same held to one core (taskset): how the ratio moves
#                 from 1 to 2 cores
#   infozip       unzip -q -o
#   7zip          7zz x
#   bsdtar        bsdtar -xf
#   cp            limit: `cp -r` of the unpacked folder
#
# Every run unpacks into a fresh folder; a round's folders are deleted at the
# end of the round (creating many files right after deleting many is slow on
# some file systems: the rotating order charges it to every tool alike).
#
# CORPUS names are those of the corpus generator (MAKE_CORPUS in
# bench/lib.sh); the default is "novel illustrated manyfiles".
#
# Environment: as in bench/lib.sh; JOBS (default "unzip analyze") names the
# comparisons to run; RUNS (default 3 for the big corpora, 5 for
# the others) is rounded up to a multiple of the number of tools.
# A corpus and its archive are made once and kept; delete them to remake them.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated manyfiles)
UNZIP_TOOLS=(plimsy plimsy-1core infozip 7zip bsdtar cp)
ANALYZE_TOOLS=(analyze zipinfo zipinfo-file)
UNPACKED=$WORK/unpacked
JOBS=${JOBS:-unzip analyze}

require_tools "$CLI" zip unzip zipinfo 7zz bsdtar taskset cp /usr/bin/time awk

run_tool() {  # tool round
  local out=$UNPACKED/$1-$2 times=$WORK/$1.times
  case $1 in
    plimsy) timed_run "$times" "$CLI" unzip "$ARCHIVE" "$out" --no-backup --quiet ;;
    plimsy-1core) timed_run "$times" taskset -c 0 "$CLI" unzip "$ARCHIVE" "$out" --no-backup --quiet ;;
    infozip) timed_run "$times" unzip -q -o "$ARCHIVE" -d "$out" ;;
    7zip) timed_run "$times" 7zz x -y -bso0 -bsp0 "-o$out" "$ARCHIVE" ;;
    bsdtar) mkdir -p "$out" && timed_run "$times" bsdtar -xf "$ARCHIVE" -C "$out" ;;
    cp) timed_run "$times" cp -r "$UNPACKED/infozip-0" "$out" ;;
    analyze) timed_run "$times" "$CLI" analyze "$ARCHIVE" --log "$WORK/analysis.txt" --quiet ;;
    zipinfo) timed_run "$times" bash -c 'zipinfo -v "$1" >/dev/null' _ "$ARCHIVE" ;;
    zipinfo-file) timed_run "$times" bash -c 'zipinfo -v "$1" >"$2"' _ "$ARCHIVE" "$WORK/zipinfo.txt" ;;
  esac
}

for name in "${CORPORA[@]}"; do
  ensure_corpus "$name"
  archive=$WORK/$name-level9.zip
  [ -f "$archive" ] || (cd "$CORPUS_DIR/$name" && zip -q -X -r -9 "$archive" .)
done

report_header
for name in "${CORPORA[@]}"; do
  ARCHIVE=$WORK/$name-level9.zip
  rm -rf "$UNPACKED"
  mkdir -p "$UNPACKED"
  runs=$(runs_for "$name" illustrated manyfiles)
  if [[ " $JOBS " == *" unzip "* ]]; then
    run_rounds "$UNPACKED" "$(whole_rounds "$runs" ${#UNZIP_TOOLS[@]})" "${UNZIP_TOOLS[@]}"
    report_rows "$name" infozip plimsy:unzip plimsy-1core:"unzip on 1 core" infozip:unzip 7zip:unzip bsdtar:unzip \
      cp:"limit: cp -r"
    rm -rf "$UNPACKED"
  fi
  [[ " $JOBS " == *" analyze "* ]] || continue
  run_rounds "$UNPACKED" "$(whole_rounds $((runs < 5 ? 5 : runs)) ${#ANALYZE_TOOLS[@]})" "${ANALYZE_TOOLS[@]}"
  report_rows "$name" zipinfo analyze:"log of every record" zipinfo:"zipinfo -v" \
    zipinfo-file:"zipinfo -v > file"
done
rm -f "$WORK"/*.times "$WORK/memory.txt" "$WORK/analysis.txt" "$WORK/zipinfo.txt"
