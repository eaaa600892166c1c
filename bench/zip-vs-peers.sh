#!/usr/bin/env bash
# shellcheck disable=SC2016  # the bash -c scripts take their arguments as $1, $2
# zip-vs-peers.sh [CORPUS ...]
#
# Times `plimsy-cli zip FOLDER OUT.epub --level 9` against other tools packing
# the same folder, run after run in a rotating order (every tool in every
# place equally often), each run into a fresh output file. Prints one row per
# corpus and tool: median wall time, its ratio to Info-ZIP's median with the
# range of the runs, and peak memory (largest resident set).
#
#   plimsy      plimsy-cli zip at level 9 on all cores
#   plimsy-t1   the same with --threads 1: how the ratio moves from 1 to 2 cores
#   infozip     Info-ZIP packing it the way an epub wants (mimetype first and
#               stored, images stored, the rest at level 9; three passes)
#   bsdtar      libarchive's zip writer at level 9 (deflates the images too)
#   7zip        7-Zip's zip writer at its default level, all threads (deflates
#               the images too)
#   infozip-L0  limit: Info-ZIP storing everything (the cost of the files)
#   cp          limit: `cp -r` of the folder
#
# CORPUS names are those of the corpus generator (MAKE_CORPUS in
# bench/lib.sh); the default is "novel illustrated manyfiles".
#
# Environment: as in bench/lib.sh; RUNS (default 3 for the big corpora, 5 for
# the others) is rounded up to a multiple of the number of tools.
# A corpus is generated once and kept; delete BENCH_OUT/corpus to remake it.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated manyfiles)
TOOLS=(plimsy plimsy-t1 infozip bsdtar 7zip infozip-L0 cp)
PACKED=$WORK/packed

require_tools "$CLI" zip bsdtar 7zz cp /usr/bin/time awk
"$CLI" zip --help | grep -q -- --threads || { echo "zip-vs-peers.sh: $CLI zip has no --threads option" >&2; exit 1; }

# Info-ZIP packing an epub: $1 the folder, $2 the archive. Status 12 is its
# "nothing to do": a book without images.
INFOZIP_EPUB='cd "$1" &&
  zip -q -X -0 "$2" mimetype &&
  zip -q -X -r -9 "$2" . -x mimetype "*.jpg" "*.jpeg" "*.png" "*.gif" &&
  { zip -q -X -r -0 "$2" . -i "*.jpg" "*.jpeg" "*.png" "*.gif" || [ $? -eq 12 ]; }'

run_tool() {  # tool round
  local out=$PACKED/$1-$2 times=$WORK/$1.times
  case $1 in
    plimsy) timed_run "$times" "$CLI" zip "$FOLDER" "$out.epub" --level 9 --no-backup --quiet ;;
    plimsy-t1) timed_run "$times" "$CLI" zip "$FOLDER" "$out.epub" --level 9 --threads 1 --no-backup --quiet ;;
    infozip) timed_run "$times" bash -c "$INFOZIP_EPUB" _ "$FOLDER" "$out.zip" ;;
    bsdtar)
      timed_run "$times" bsdtar --format zip --options zip:compression-level=9 -cf "$out.zip" -C "$FOLDER" . ;;
    7zip) timed_run "$times" bash -c 'cd "$1" && 7zz a -tzip -bso0 -bsp0 "$2" .' _ "$FOLDER" "$out.zip" ;;
    infozip-L0) timed_run "$times" bash -c 'cd "$1" && zip -q -X -r -0 "$2" .' _ "$FOLDER" "$out.zip" ;;
    cp) timed_run "$times" cp -r "$FOLDER" "$out" ;;
  esac
}

for name in "${CORPORA[@]}"; do ensure_corpus "$name"; done

report_header
for name in "${CORPORA[@]}"; do
  FOLDER=$CORPUS_DIR/$name
  rm -rf "$PACKED"
  mkdir -p "$PACKED"
  run_rounds "$PACKED" "$(whole_rounds "$(runs_for "$name" illustrated manyfiles)" ${#TOOLS[@]})" "${TOOLS[@]}"
  report_rows "$name" infozip plimsy:"$(stat -c %s "$PACKED/plimsy-1.epub") bytes" plimsy-t1:"--threads 1" \
    infozip:"$(stat -c %s "$PACKED/infozip-1.zip") bytes" bsdtar:"images deflated" 7zip:"images deflated" \
    infozip-L0:"limit: all stored" cp:"limit: cp -r"
  cmp -s "$PACKED/plimsy-1.epub" "$PACKED/plimsy-t1-1.epub" ||
    echo "zip-vs-peers.sh: $name: the archives of 1 and of all threads differ" >&2
  rm -rf "$PACKED"
done
rm -f "$WORK"/*.times "$WORK/memory.txt"
