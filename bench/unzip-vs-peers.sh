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
# CORPUS names are those of /work/shared/bench/make-corpus.sh; the default is
# "novel illustrated manyfiles". Targets: novel <= 0.6, illustrated <= 0.15,
# manyfiles <= 0.9 x Info-ZIP unzip; analyze of manyfiles <= 1.0 x zipinfo -v.
#
# Environment:
#   PLIMSY_CLI   the command-line program (default: build/cli/plimsy-cli)
#   BENCH_OUT    scratch folder for the corpus, the archives and the output
#                (default: bench/out, which git ignores)
#   RUNS         timed runs per tool and corpus (default 5; 3 for illustrated
#                and manyfiles)
#   MAKE_CORPUS  the corpus generator (default /work/shared/bench/make-corpus.sh)
# A corpus and its archive are made once and kept; delete them to remake them.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=${PLIMSY_CLI:-$ROOT/build/cli/plimsy-cli}
OUT=${BENCH_OUT:-$ROOT/bench/out}
MAKE_CORPUS=${MAKE_CORPUS:-/work/shared/bench/make-corpus.sh}
CORPORA=("$@")
[ ${#CORPORA[@]} -gt 0 ] || CORPORA=(novel illustrated manyfiles)
TOOLS=(plimsy infozip 7zip bsdtar)

for tool in "$CLI" zip unzip zipinfo 7zz bsdtar python3 awk; do
  command -v "$tool" >/dev/null || { echo "unzip-vs-peers.sh: $tool not found" >&2; exit 1; }
done
"$CLI" unzip --help >/dev/null 2>&1 || { echo "unzip-vs-peers.sh: $CLI has no unzip command" >&2; exit 1; }

CORPUS_DIR=$OUT/corpus
WORK=$OUT/work
UNPACKED=$WORK/unpacked
mkdir -p "$CORPUS_DIR" "$WORK"
# The program may keep settings: keep them out of the user's own.
export XDG_CONFIG_HOME=$WORK/config

runs_for() {
  if [ -n "${RUNS:-}" ]; then echo "$RUNS"
  elif [ "$1" = novel ]; then echo 5
  else echo 3
  fi
}

# One timed run: its wall seconds appended to $1, the command after it. The
# clock is bash's own (microseconds): small books unpack in hundredths. The
# data of earlier runs is flushed first, so that no run pays for the
# write-back of another's.
timed() {
  local log=$1; shift
  sync
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }' >>"$log"
}

unpack() {  # tool archive folder
  local tool=$1 archive=$2 folder=$3
  case $tool in
    plimsy) timed "$WORK/$tool.times" "$CLI" unzip "$archive" "$folder" --no-backup --quiet ;;
    infozip) timed "$WORK/$tool.times" unzip -q -o "$archive" -d "$folder" ;;
    7zip) timed "$WORK/$tool.times" 7zz x -y -bso0 -bsp0 "-o$folder" "$archive" ;;
    bsdtar) mkdir -p "$folder" && timed "$WORK/$tool.times" bsdtar -xf "$archive" -C "$folder" ;;
  esac
}

median() {  # times file
  sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() { python3 -c "print('%.2f' % ($1 / $2) if $2 > 0 else 'nan')"; }

for name in "${CORPORA[@]}"; do
  [ -f "$CORPUS_DIR/$name/mimetype" ] || "$MAKE_CORPUS" "$CORPUS_DIR" "$name" >&2
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
  n=$(runs_for "$name")
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
n=$(( $(runs_for "$name") < 5 ? 5 : $(runs_for "$name") ))
for ((i = 1; i <= n; i++)); do
  timed "$WORK/analyze.times" "$CLI" analyze "$archive" --log "$WORK/analysis.txt" --quiet
  timed "$WORK/zipinfo.times" bash -c 'zipinfo -v "$1" >/dev/null' zipinfo "$archive"
done
printf '\n%-12s %5s %10s %10s %7s\n' corpus runs analyze_s zipinfo_s ratio
ours=$(median "$WORK/analyze.times")
theirs=$(median "$WORK/zipinfo.times")
printf '%-12s %5d %10.3f %10.3f %7s\n' "$name" "$n" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
rm -f "$WORK"/*.times "$WORK/analysis.txt"
