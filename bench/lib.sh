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

# One timed run: "wall-seconds peak-KiB" appended to $1, the command after
# it. The wall time is bash's own clock (microseconds, for runs of hundredths
# of a second); the peak resident memory comes from /usr/bin/time. The data of
# earlier runs is flushed first, so that no run pays for the write-back of
# another's.
timed_run() {  # times-file command...
  local log=$1
  shift
  sync
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$WORK/memory.txt" "$@" >/dev/null
  local end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" -v m="$(tail -n 1 "$WORK/memory.txt")" 'BEGIN { printf "%.6f %d\n", e - s, m }' >>"$log"
}

# Runs `run_tool TOOL ROUND` (defined by the script) for `rounds` rounds of
# every tool named; each run writes a fresh TOOL-ROUND (or TOOL-ROUND.EXT)
# in `folder`. Each round starts with the next tool, so that with a number of
# rounds that is a multiple of the number of tools every tool takes every
# place in the order equally often (the file system's state after a run is
# felt by the next). One untimed round (ROUND 0) comes first and fills the
# page cache. What rounds after the first wrote is deleted at the end of
# their round, so that the outputs of a big book never fill the memory with
# page cache (the first two rounds' stay for the scripts to look at). The
# times go to $WORK/TOOL.times.
run_rounds() {  # folder rounds tool...
  local folder=$1 rounds=$2 i k tool
  shift 2
  local tools=("$@")
  for tool in "${tools[@]}"; do run_tool "$tool" 0; done
  for tool in "${tools[@]}"; do rm -f "$WORK/$tool.times"; done
  for ((i = 1; i <= rounds; i++)); do
    for ((k = 0; k < ${#tools[@]}; k++)); do
      tool=${tools[(i + k) % ${#tools[@]}]}
      run_tool "$tool" "$i"
    done
    if ((i > 1)); then rm -rf "${folder:?}"/*-"$i" "${folder:?}"/*-"$i".*; fi
  done
}

# The smallest multiple of the number of tools that is at least n.
whole_rounds() {  # n tool-count
  echo $((($1 + $2 - 1) / $2 * $2))
}

# Prints the table's header, then one row per tool: its median wall time,
# that median's ratio to the baseline tool's median with the range of its
# runs (fastest and slowest run over the baseline's median), and its largest
# peak memory. A note (what the tool is) follows each row.
report_header() {
  printf '%-12s %-16s %4s %9s %18s %9s  %s\n' corpus tool runs median_s "ratio (min-max)" peak_MiB note
}
report_rows() {  # corpus baseline tool:note...
  local corpus=$1 baseline=$2 entry tool
  shift 2
  local base
  base=$(median "$WORK/$baseline.times")
  for entry in "$@"; do
    tool=${entry%%:*}
    sort -g "$WORK/$tool.times" | awk -v base="$base" -v corpus="$corpus" -v tool="$tool" -v note="${entry#*:}" '
      { t[NR] = $1; if ($2 > m) m = $2 }
      END {
        med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        printf "%-12s %-16s %4d %9.3f %6.2f (%4.2f-%4.2f) %9.1f  %s\n", corpus, tool, NR, med,
          med / base, t[1] / base, t[NR] / base, m / 1024, note
      }'
  done
}

# The median of a column (default the first) of a times file.
median() {  # times-file [column]
  awk -v c="${2:-1}" '{ print $c }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
