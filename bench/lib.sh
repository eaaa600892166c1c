# shellcheck shell=bash disable=SC2034  # the places are for the scripts that source this
# bench/lib.sh: what the benchmark scripts share. Sourced by them after
# `set -euo pipefail`; it sets the places below, makes their folders and
# defines the functions that follow.
#
# Environment:
#   PLIMSY_CLI   the command-line program (default: build/cli/plimsy-cli)
#   BENCH_OUT    scratch folder for the corpora, the archives and the output
#                (default: bench/out, which git ignores)
#   RUNS         timed runs per tool and corpus (each script has its default)
#   MAKE_CORPUS  the corpus generator (default ../shared/bench/make-corpus.sh
#                beside the checkout, where CI puts the shared folder)

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${PLIMSY_CLI:-$ROOT/build/cli/plimsy-cli}
OUT=${BENCH_OUT:-$ROOT/bench/out}
MAKE_CORPUS=${MAKE_CORPUS:-$ROOT/../shared/bench/make-corpus.sh}
CORPUS_DIR=$OUT/corpus
WORK=$OUT/work
mkdir -p "$CORPUS_DIR" "$WORK"
# The program may keep settings: keep them out of the user's own.
export XDG_CONFIG_HOME=$WORK/config

# Ends the script when a command it needs is missing.
require_tools() {  # command...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$(basename "$0"): $tool not found" >&2; exit 1; }
  done
}

# Timed runs for a corpus: $RUNS when set, else 3 for the corpora named after
# it (the big ones), 5 for the others.
runs_for() {  # corpus [corpus...]
  local name=$1 big
  shift
  if [ -n "${RUNS:-}" ]; then echo "$RUNS"; return; fi
  for big in "$@"; do
    if [ "$name" = "$big" ]; then echo 3; return; fi
  done
  echo 5
}

# Makes a corpus once; it is kept for later runs. Ends the script when the
# corpus must be made and there is no generator.
ensure_corpus() {  # corpus
  [ -f "$CORPUS_DIR/$1/mimetype" ] && return
  if [ ! -x "$MAKE_CORPUS" ]; then
    echo "$(basename "$0"): cannot make the corpus \"$1\": no corpus generator (a program) at $MAKE_CORPUS" >&2
    echo "  (it is ../shared/bench/make-corpus.sh beside the checkout; MAKE_CORPUS names another)" >&2
    exit 1
  fi
  "$MAKE_CORPUS" "$CORPUS_DIR" "$1" >&2
}

# One timed run on bash's own clock (microseconds, for runs of hundredths of a
# second): its wall seconds appended to $1, the command after it. The data of
# earlier runs is flushed first, so that no run pays for the write-back of
# another's.
timed_wall() {  # times-file command...
  local log=$1
  shift
  sync
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f\n", e - s }' >>"$log"
}

# One timed run under /usr/bin/time: "seconds peak-KiB" appended to $1, the
# command after it.
timed_with_memory() {  # times-file command...
  local log=$1
  shift
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" >/dev/null
  cat "$WORK/time.txt" >>"$log"
}

# The median of a column (default the first) of a times file.
median() {  # times-file [column]
  awk -v c="${2:-1}" '{ print $c }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# a / b with two decimals; "nan" when b is 0.
ratio() {  # a b
  python3 -c "print('%.2f' % ($1 / $2) if $2 > 0 else 'nan')"
}
