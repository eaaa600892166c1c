#!/usr/bin/env bash
# zip-vs-peers.sh [CORPUS ...]
#
# Times `plimsy-cli zip FOLDER OUT.epub --level 9` against Info-ZIP packing
# the same folder the way an epub wants it (mimetype first and stored, images
# stored, everything else at level 9, in three passes), interleaved run by
# run, and prints per corpus the median wall time of each, their ratio, both
# archive sizes and both peak memory figures (largest resident set, from
# /usr/bin/time).
#
# CORPUS names are those of the corpus generator (MAKE_CORPUS in
# bench/lib.sh); the default is "novel illustrated". Targets: novel <= 1.0 x
# Info-ZIP, illustrated <= 0.5 x, peak memory < 64 MiB.
#
# Environment: as in bench/lib.sh; RUNS defaults to 3 for illustrated, 5 for
# the others.
# A corpus is generated once and kept; delete BENCH_OUT/corpus to remake it.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated)

require_tools "$CLI" zip /usr/bin/time python3

plimsy_zip() {  # folder epub
  rm -f "$2"
  timed_with_memory "$WORK/plimsy.times" "$CLI" zip "$1" "$2" --level 9
}

# Status 12 is Info-ZIP's "nothing to do": a book without images.
infozip_zip() {  # folder archive
  rm -f "$2"
  timed_with_memory "$WORK/infozip.times" bash -c '
    cd "$1" &&
    zip -q -X -0 "$2" mimetype &&
    zip -q -X -r -9 "$2" . -x mimetype "*.jpg" "*.jpeg" "*.png" "*.gif" &&
    { zip -q -X -r -0 "$2" . -i "*.jpg" "*.jpeg" "*.png" "*.gif" || [ $? -eq 12 ]; }' infozip "$1" "$2"
}

largest() {
  awk -v c="$2" '$c > m { m = $c } END { print m }' "$1"
}

for name in "${CORPORA[@]}"; do ensure_corpus "$name"; done

printf '%-12s %5s %10s %10s %7s %14s %14s %10s %10s\n' corpus runs plimsy_s infozip_s ratio plimsy_bytes infozip_bytes plimsy_MiB infozip_MiB
for name in "${CORPORA[@]}"; do
  folder=$CORPUS_DIR/$name
  epub=$WORK/$name-plimsy.epub
  archive=$WORK/$name-infozip.zip
  rm -f "$WORK/plimsy.times" "$WORK/infozip.times"
  # One untimed round fills the page cache for both.
  plimsy_zip "$folder" "$epub"
  infozip_zip "$folder" "$archive"
  rm -f "$WORK/plimsy.times" "$WORK/infozip.times"
  n=$(runs_for "$name" illustrated)
  for ((i = 1; i <= n; i++)); do
    plimsy_zip "$folder" "$epub"
    infozip_zip "$folder" "$archive"
  done
  ours=$(median "$WORK/plimsy.times" 1)
  theirs=$(median "$WORK/infozip.times" 1)
  printf '%-12s %5d %10.2f %10.2f %7s %14d %14d %10.1f %10.1f\n' "$name" "$n" "$ours" "$theirs" \
    "$(ratio "$ours" "$theirs")" \
    "$(stat -c %s "$epub")" "$(stat -c %s "$archive")" \
    "$(python3 -c "print($(largest "$WORK/plimsy.times" 2) / 1024)")" \
    "$(python3 -c "print($(largest "$WORK/infozip.times" 2) / 1024)")"
done
rm -f "$WORK/plimsy.times" "$WORK/infozip.times" "$WORK/time.txt"
