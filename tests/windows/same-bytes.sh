#!/usr/bin/env bash
# The Linux and the Windows plimsy-cli must give the same bytes: each zips the
# same book folders with the same --datetime into identical epubs, each unzips
# the other's epub into the same tree, and their analysis logs agree except
# for the log's own header (paths and times).
#
#   same-bytes.sh LINUX_CLI WINDOWS_CLI [WINE_COMMAND]
#
# WINE_COMMAND (default: wine) runs the .exe; the books are made in a scratch
# folder and named by relative paths, which mean the same on both systems.
set -euo pipefail

linux_cli=$(realpath "$1")
windows_cli=$(realpath "$2")
wine=${3:-wine}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

run_linux() { "$linux_cli" "$@"; }
run_windows() { $wine "$windows_cli" "$@"; }

# The analysis log without its header block (everything before the list of
# abbreviations names the files and the moment of the analysis).
log_body() { sed -n '/^Abbreviations used in this document:/,$p' "$1"; }

# Compares one book folder through both programs.
compare_book() {
  local name=$1
  local datetime=2024-05-01T10:00:00Z
  run_linux zip "$name" "$name-linux.epub" --no-backup -q --datetime "$datetime"
  run_windows zip "$name" "$name-windows.epub" --no-backup -q --datetime "$datetime"
  cmp -s "$name-linux.epub" "$name-windows.epub" || fail "$name: the two epubs differ"

  # Each unpacks the other's epub; both trees must equal the book folder.
  run_linux unzip "$name-windows.epub" "$name-from-windows" --no-backup -q --datetime "$datetime"
  run_windows unzip "$name-linux.epub" "$name-from-linux" --no-backup -q --datetime "$datetime"
  diff -r "$name" "$name-from-windows" >/dev/null || fail "$name: Linux unpacks the Windows epub differently"
  diff -r "$name" "$name-from-linux" >/dev/null || fail "$name: Windows unpacks the Linux epub differently"

  run_linux analyze "$name-linux.epub" --log "$name-linux.txt" -q
  run_windows analyze "$name-linux.epub" --log "$name-windows.txt" -q
  cmp -s <(log_body "$name-linux.txt") <(log_body "$name-windows.txt") || fail "$name: the analysis logs differ"
  echo "$name: same bytes ($(stat -c %s "$name-linux.epub") bytes, $(find "$name" -type f | wc -l) files)"
}

# The sample book.
cp -r "$source_dir/examples/sample-book" sample
compare_book sample

# A book as pandoc makes it.
if command -v pandoc >/dev/null; then
  printf '%% A Test Book\n%% Plimsy\n\n# One\n\nText *with* emphasis.\n\n# Two\n\nMore text.\n' >book.md
  pandoc book.md -o pandoc.epub --metadata lang=en
  mkdir pandoc && (cd pandoc && unzip -q ../pandoc.epub)
  compare_book pandoc
else
  fail "pandoc is missing"
fi

# Names beyond ASCII.
mkdir -p names/OEBPS/Bilder "names/OEBPS/第一章"
printf 'application/epub+zip' >names/mimetype
printf '<p>ä</p>' >"names/OEBPS/Kapitel-ä.xhtml"
printf 'body{}' >"names/OEBPS/café.css"
printf 'x' >"names/OEBPS/第一章/页.xhtml"
printf 'ok' >"names/OEBPS/Bilder/Ελληνικά.txt"
compare_book names

# Seventy thousand small files in a hundred folders.
mkdir many
printf 'application/epub+zip' >many/mimetype
for d in $(seq -w 0 99); do
  mkdir "many/d$d"
  (cd "many/d$d" && for f in $(seq -w 0 699); do printf '<p>%s %s</p>' "$d" "$f" >"f$f.xhtml"; done)
done
compare_book many

if [ "$failures" -ne 0 ]; then
  echo "same-bytes: $failures failure(s)" >&2
  exit 1
fi
echo "same-bytes: the Linux and the Windows plimsy-cli agree on every book"
