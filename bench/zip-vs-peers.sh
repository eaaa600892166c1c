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
# CORPUS names are those of /work/shared/bench/make-corpus.sh; the default is
# "novel illustrated". Targets: novel <= 1.0 x Info-ZIP, illustrated <= 0.5 x,
# peak memory < 64 MiB.
#
# Environment:
#   PLIMSY_CLI   the command-line program (default: build/cli/plimsy-cli)
#   BENCH_OUT    scratch folder for the corpus and the archives
#                (default: bench/out, which git ignores)
#   RUNS         timed runs per tool and corpus (default 5; 3 for illustrated)
#   MAKE_CORPUS  the corpus generator (default /work/shared/bench/make-corpus.sh)
# A corpus is generated once and kept; delete BENCH_OUT/corpus to remake it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${PLIMSY_CLI:-$ROOT/build/cli/plimsy-cli}
OUT=${BENCH_OUT:-$ROOT/bench/out}
MAKE_CORPUS=${MAKE_CORPUS:-/work/shared/bench/make-corpus.sh}
CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated)

for tool in "$CLI" zip /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "zip-vs-peers.sh: $tool not found" >&2; exit 1; }
done

CORPUS_DIR=$OUT/corpus
WORK=$OUT/work
mkdir -p "$CORPUS_DIR" "$WORK"
# The program may keep settings: keep them out of the user's own.
export XDG_CONFIG_HOME=$WORK/config

runs_for() {
  if [ -n "${RUNS:-}" ]; then echo "$RUNS"
  elif [ "$1" = illustrated ]; then echo 3
  else echo 5
  fi
}

# One timed run: "seconds peak-KiB" appended to $1, the command after it.
timed() {
  local log=$1; shift
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null
  cat "$WORK/time.txt" >>"$log"
}

plimsy_zip() {  # folder epub
  rm -f "$2"
  timed "$WORK/plimsy.times" "$CLI" zip "$1" "$2" --level 9
}

# Status 12 is Info-ZIP's "nothing to do": a book without images.
infozip_zip() {  # folder archive
  rm -f "$2"
  timed "$WORK/infozip.times" bash -c '
    cd "$1" &&
    zip -q -X -0 "$2" mimetype &&
    zip -q -X -r -9 "$2" . -x mimetype "*.jpg" "*.jpeg" "*.png" "*.gif" &&
    { zip -q -X -r -0 "$2" . -i "*.jpg" "*.jpeg" "*.png" "*.gif" || [ $? -eq 12 ]; }' infozip "$1" "$2"
}

median() {  # column of a times file
  awk -v c="$2" '{ print $c }' "$1" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

largest() {
  awk -v c="$2" '$c > m { m = $c } END { print m }' "$1"
}

for name in "${CORPORA[@]}"; do
  [ -f "$CORPUS_DIR/$name/mimetype" ] || "$MAKE_CORPUS" "$CORPUS_DIR" "$name" >&2
done

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
  n=$(runs_for "$name")
  for ((i = 1; i <= n; i++)); do
    plimsy_zip "$folder" "$epub"
    infozip_zip "$folder" "$archive"
  done
  ours=$(median "$WORK/plimsy.times" 1)
  theirs=$(median "$WORK/infozip.times" 1)
  printf '%-12s %5d %10.2f %10.2f %7.2f %14d %14d %10.1f %10.1f\n' "$name" "$n" "$ours" "$theirs" \
    "$(python3 -c "print($ours / $theirs if $theirs > 0 else float('nan'))")" \
    "$(stat -c %s "$epub")" "$(stat -c %s "$archive")" \
    "$(python3 -c "print($(largest "$WORK/plimsy.times" 2) / 1024)")" \
    "$(python3 -c "print($(largest "$WORK/infozip.times" 2) / 1024)")"
done
rm -f "$WORK/plimsy.times" "$WORK/infozip.times" "$WORK/time.txt"
