#!/usr/bin/env bash
# Draws the dialogs of the Windows program, as Wine shows them, into
# OUTDIR/windows-main-dialog.png, OUTDIR/windows-options-dialog.png and
# OUTDIR/windows-check-dialog.png (the result of a check of an epub whose
# mimetype is deflated, which Repair would mend; for
# the README and the user guide): on a display server of its own (Xvfb, with
# openbox, whose frames are in the pictures), in a fresh Wine prefix (removed
# after) whose settings file holds sample paths.
#
#   scripts/windows-screenshots.sh PLIMSY_EXE OUTDIR
#
# Every wait is bounded.
set -euo pipefail

exe=$(realpath "$1")
out=${2:?windows-screenshots.sh: give the folder for the pictures}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=wine-x11.sh
source "$source_dir/scripts/wine-x11.sh"
[ -f "$exe" ] || { echo "windows-screenshots.sh: there is no $exe" >&2; exit 1; }
mkdir -p "$out"

scratch=$(mktemp -d)
prefix=$scratch/wineprefix
wine_run=("$source_dir/scripts/wine-run" --prefix "$prefix" --display)
cleanup() {
  "$source_dir/scripts/wine-run" --prefix "$prefix" --stop
  x11_stop
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
fail() {
  echo "windows-screenshots.sh: $*" >&2
  exit 1
}

x11_start "$scratch" || fail "no display server"
local_appdata=$(timeout --kill-after=10 300 "${wine_run[@]}" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r') ||
  fail "no Wine prefix"
local_appdata=$(timeout --kill-after=10 60 "${wine_run[@]}" winepath -u "$local_appdata" 2>/dev/null | tr -d '\r')

# The settings file as the program writes it: UTF-8 with a byte-order mark,
# CR LF line ends.
mkdir -p "$local_appdata/Tarnwick/Plimsy"
{
  printf '\xEF\xBB\xBF'
  sed 's/$/\r/' <<'EOF'
<Settings>
<OpenFinishedWork>true</OpenFinishedWork>
<ShowSuccessMessage>true</ShowSuccessMessage>
<sDatetime>2024-05-01</sDatetime>
<PutBackupsInOriginalLocation>true</PutBackupsInOriginalLocation>
<UseSpecifiedBackupFolder>false</UseSpecifiedBackupFolder>
<SaveBackups>true</SaveBackups>
<EpubWorkOrder>
<tDatetime>0</tDatetime>
<CompressionLevel>9</CompressionLevel>
<FilesDir>C:\Users\reader\Books\the-lighthouse\</FilesDir>
<ZipPath>C:\Users\reader\Books\the-lighthouse.epub</ZipPath>
<DoWhat>1</DoWhat>
<RealFileCreationTimes>true</RealFileCreationTimes>
<DeflateCompressedFiles>false</DeflateCompressedFiles>
<BackupDir></BackupDir>
<AnalyzeZipLogPath>C:\Users\reader\Books\analysis.txt</AnalyzeZipLogPath>
</EpubWorkOrder>
</Settings>
EOF
} >"$local_appdata/Tarnwick/Plimsy/settings.xml"

# The epub of the settings, from the sample book, with its mimetype deflated.
books=$(timeout --kill-after=10 60 "${wine_run[@]}" winepath -u 'C:\Users\reader\Books' 2>/dev/null | tr -d '\r')
mkdir -p "$books"
python3 - "$source_dir/examples/sample-book" "$books/the-lighthouse.epub" <<'PYTHON'
import os, sys, zipfile
book, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as epub:
    epub.write(os.path.join(book, "mimetype"), "mimetype")
    for folder, _, files in sorted(os.walk(book)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            entry = os.path.relpath(path, book).replace(os.sep, "/")
            if entry != "mimetype":
                epub.write(path, entry)
PYTHON

(
  status=0
  timeout --kill-after=10 120 "${wine_run[@]}" "$exe" >"$scratch/plimsy.log" 2>&1 || status=$?
  echo "$status" >"$scratch/status"
) &

main=$(wait_for_window '^Plimsy for Epubs version 0\.1$' 90) || fail "the main window did not come up within 90 s"
activate "$main" || fail "the main window does not become the active window"
# No pointer over a button, and time for the window to be drawn.
xdotool mousemove 0 0
sleep 1
photograph "$main" "$out/windows-main-dialog.png"
echo "Written: $out/windows-main-dialog.png"

click "$source_dir/resources/dialogs/101_main.dlg" "$main" 1087 || fail "could not click Options"
end=$((SECONDS + 20))
options=""
while [ -z "$options" ] || [ "$options" = "$main" ]; do
  [ $SECONDS -lt $end ] || fail "the options dialog did not come up within 20 s"
  sleep 0.25
  options=$(active_window)
done
xdotool mousemove 0 0
sleep 1
photograph "$options" "$out/windows-options-dialog.png"
echo "Written: $out/windows-options-dialog.png"

if ! press "$options" Escape || ! wait_until_gone "$options" 10; then
  fail "the options dialog did not close on Escape"
fi

click "$source_dir/resources/dialogs/101_main.dlg" "$main" 2004 || fail "could not click Check"
check=$(wait_for_window '^Check: the-lighthouse\.epub$' 60 "$main") || fail "the result of the check did not come up"
xdotool mousemove 0 0
sleep 1
photograph "$check" "$out/windows-check-dialog.png"
echo "Written: $out/windows-check-dialog.png"
if ! press "$check" Escape || ! wait_until_gone "$check" 10; then
  fail "the result of the check did not close on Escape"
fi
press "$main" Escape || fail "could not press Escape in the main window"
for ((i = 0; i < 120; i++)); do
  [ -f "$scratch/status" ] && exit 0
  sleep 0.25
done
fail "the program did not end within 30 s of Escape"
