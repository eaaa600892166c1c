#!/usr/bin/env bash
# check-vs-epubcheck.sh [BOOK ...]
#
# Times `plimsy-cli check` and `plimsy-cli check --deep` against epubcheck
# (`java -jar` on the jar of Debian's epubcheck package) on the same books,
# run after run in a rotating order (every tool in every place equally
# often). Prints one row per book and tool: median wall time, how many times
# epubcheck's median that median goes into (epubcheck's median over the
# tool's; the range of the runs after it), and peak memory (largest resident
# set). The note says what each found.
#
#   plimsy        plimsy-cli check: container, package document, navigation
#   plimsy-deep   plimsy-cli check --deep: every entry inflated, every content
#                 document parsed, every link and fragment resolved
#   epubcheck     java -jar epubcheck.jar
#
# BOOK names (the default is all three):
#   handbook      pandoc's EPUB 3 of a generated handbook: 100 chapters of
#                 sections that link to each other's sections, notes, 20
#                 images (noise, so they do not compress), about 6 MB
#   handbook2     the same handbook as pandoc's EPUB 2 (an NCX)
#   novel         the corpus generator's "novel" (MAKE_CORPUS in bench/lib.sh)
#                 packed by plimsy-cli zip
# The books are made once and kept in BENCH_OUT/books; the same command makes
# the same bytes (given the same pandoc).
#
# Environment: as in bench/lib.sh; RUNS (default 5) is rounded up to a
# multiple of the number of tools; EPUBCHECK_JAR names another jar.
# shellcheck disable=SC2016  # the bash -c script takes its arguments as $1, $2
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

BOOKS=("$@")
[ ${#BOOKS[@]} -gt 0 ] || BOOKS=(handbook handbook2 novel)
TOOLS=(plimsy plimsy-deep epubcheck)
BOOK_DIR=$OUT/books
EPUBCHECK_JAR=${EPUBCHECK_JAR:-$(dpkg -L epubcheck 2>/dev/null | grep -m 1 '/epubcheck\.jar$' || true)}

require_tools "$CLI" java pandoc python3 unzip /usr/bin/time awk
[ -f "${EPUBCHECK_JAR:-/nonexistent}" ] ||
  { echo "check-vs-epubcheck.sh: no epubcheck jar (install Debian's epubcheck, or set EPUBCHECK_JAR)" >&2; exit 1; }
mkdir -p "$BOOK_DIR"

# The handbook's markdown and images in $1: chapters that link forward and
# back to sections of other chapters, a note in every section, an image in
# every fifth chapter. Fixed seeds.
make_handbook_source() {  # folder
  python3 - "$1" <<'PY'
import random, struct, sys, zlib, os

out = sys.argv[1]
rng = random.Random(22)
words = """lamp wick oil glass lens tower keeper gallery stair log tide fog bell signal light night watch
storm ship sea rock reef chart beam shutter clockwork brass wind weather relief boat harbour coast
mark bearing heading mile hour ledger entry winter summer north south east west""".split()

def sentence():
    n = rng.randint(8, 20)
    return " ".join(rng.choice(words) for _ in range(n)).capitalize() + "."

def png(path, size, seed):
    noise = random.Random(seed)
    rows = b"".join(b"\0" + bytes(noise.getrandbits(8) for _ in range(size * 3)) for _ in range(size))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(rows, 0)) + chunk(b"IEND", b""))

CHAPTERS, SECTIONS = 100, 6
lines = ["---", "title: The Keeper's Handbook", "author: A. Writer", "lang: en", "date: 2026-12-07",
         "identifier: urn:uuid:5b0f3c1e-8a2d-4c7e-9f41-2d6a1e0b7c22", "---", ""]
note = 0
for c in range(1, CHAPTERS + 1):
    lines += [f"# Chapter {c}: the {rng.choice(words)} {{#ch-{c}}}", ""]
    if c % 5 == 0:
        lines += [f"![Plate {c // 5}](plate-{c // 5}.png)", ""]
    for s in range(1, SECTIONS + 1):
        lines += [f"## The {rng.choice(words)} and the {rng.choice(words)} {{#s-{c}-{s}}}", ""]
        for _ in range(5):
            other, part = rng.randint(1, CHAPTERS), rng.randint(1, SECTIONS)
            note += 1
            lines += [" ".join(sentence() for _ in range(6)) +
                      f" See [chapter {other}, section {part}](#s-{other}-{part}) and [the start](#ch-1).[^n{note}]",
                      "", f"[^n{note}]: {sentence()}", ""]
with open(os.path.join(out, "handbook.md"), "w") as f:
    f.write("\n".join(lines))
for i in range(1, CHAPTERS // 5 + 1):
    png(os.path.join(out, f"plate-{i}.png"), 300, i)
PY
}

ensure_book() {  # book
  local book=$1 source=$BOOK_DIR/handbook-source
  [ -f "$BOOK_DIR/$book.epub" ] && return
  case $book in
    handbook | handbook2)
      if [ ! -f "$source/handbook.md" ]; then
        mkdir -p "$source"
        make_handbook_source "$source"
      fi
      local format=epub3
      [ "$book" = handbook2 ] && format=epub2
      (cd "$source" && pandoc -t "$format" --epub-chapter-level 1 -o "$BOOK_DIR/$book.epub" handbook.md)
      ;;
    *)
      ensure_corpus "$book"
      "$CLI" zip "$CORPUS_DIR/$book" "$BOOK_DIR/$book.epub" --level 9 --no-backup --quiet
      ;;
  esac
}

# check exits with 1 when it finds an error, epubcheck too: a finding is no
# failure of the run (what each found is in the note).
run_tool() {  # tool round
  local times=$WORK/$1.times
  case $1 in
    plimsy) timed_run "$times" "$CLI" check "$BOOK" --quiet || true ;;
    plimsy-deep) timed_run "$times" "$CLI" check "$BOOK" --deep --quiet || true ;;
    epubcheck) timed_run "$times" bash -c 'exec java -jar "$1" "$2" 2>/dev/null' _ "$EPUBCHECK_JAR" "$BOOK" || true ;;
  esac
}

# Each tool's findings as "N errors, M warnings" (what the run should agree on).
findings_of() {  # tool
  case $1 in
    plimsy) "$CLI" check "$BOOK" | tail -n 1 || true ;;
    plimsy-deep) "$CLI" check "$BOOK" --deep | tail -n 1 || true ;;
    epubcheck)
      java -jar "$EPUBCHECK_JAR" "$BOOK" 2>&1 |
        awk '/^(FATAL|ERROR)\(/ { e++ } /^WARNING\(/ { w++ } END { printf "%d errors, %d warnings\n", e, w }' || true ;;
  esac
}

# The table: median, epubcheck's median over it with the range of the runs
# (epubcheck's median over the slowest and over the fastest run), peak MiB.
report_rows_over() {  # book reference tool:note...
  local book=$1 reference=$2 entry tool ref
  shift 2
  ref=$(median "$WORK/$reference.times")
  for entry in "$@"; do
    tool=${entry%%:*}
    sort -g "$WORK/$tool.times" | awk -v ref="$ref" -v book="$book" -v tool="$tool" -v note="${entry#*:}" '
      { t[NR] = $1; if ($2 > m) m = $2 }
      END {
        med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        printf "%-10s %-13s %4d %9.4f %8.0fx (%5.0f-%5.0f) %9.1f  %s\n", book, tool, NR, med,
          ref / med, ref / t[NR], ref / t[1], m / 1024, note
      }'
  done
}

for book in "${BOOKS[@]}"; do ensure_book "$book"; done

printf '%-10s %-13s %4s %9s %20s %9s  %s\n' book tool runs median_s "epubcheck/tool" peak_MiB "findings"
for book in "${BOOKS[@]}"; do
  BOOK=$BOOK_DIR/$book.epub
  rounds=$(whole_rounds "${RUNS:-5}" ${#TOOLS[@]})
  mkdir -p "$WORK/checked"
  run_rounds "$WORK/checked" "$rounds" "${TOOLS[@]}"
  notes=()
  for tool in "${TOOLS[@]}"; do notes+=("$tool:$(findings_of "$tool")"); done
  echo "$book: $(stat -c %s "$BOOK") bytes, $(unzip -Z1 "$BOOK" | wc -l) entries"
  report_rows_over "$book" epubcheck "${notes[@]}"
done
rm -f "$WORK"/*.times "$WORK/memory.txt"
