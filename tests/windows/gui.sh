#!/usr/bin/env bash
# The window program end to end under Wine, driven by keyboard and mouse as a
# person would, on a display server of its own (Xvfb, with openbox as the
# window manager) and in a fresh Wine prefix of its own (removed at the end):
# the main window comes up; a second start brings the first window back and
# ends; the options dialog saves an analysis-log path; two typed paths and
# Enter zip the sample book into a sound epub; a second start given that epub
# fills both lines of the running window (the epub, and the folder beside it
# named after it) and puts the focus on Unzip, so that Enter unpacks it there;
# the Unzip button unpacks it into the same tree; "A" writes the analysis log;
# Check finds nothing in the sound epub and leaves it as it is, and offers
# Repair for an epub whose mimetype is deflated, which repacks it in place
# (backed up beside it) and shows the result of the check again; Escape closes the window and the program, which leaves its settings file
# behind.
#
#   tests/windows/gui.sh PLIMSY_EXE PREFIX
#
# PLIMSY_EXE is plimsy.exe, or the installer (…-setup.exe): that is first
# installed silently into the prefix, and the installed plimsy.exe is tested.
# PREFIX is the Wine prefix to make (it must not exist, or be one this script
# made before). With PLIMSY_GUI_SHOTS=DIR a screenshot of every step is kept
# in DIR. Every wait is bounded.
set -euo pipefail

exe=$(realpath "$1")
prefix=${2:?gui.sh: give the Wine prefix to use}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/wine-x11.sh
source "$source_dir/scripts/wine-x11.sh"
main_dlg=$source_dir/resources/dialogs/101_main.dlg
options_dlg=$source_dir/resources/dialogs/114_options.dlg
check_dlg=$source_dir/resources/dialogs/116_check.dlg
book=$source_dir/examples/sample-book
title="Plimsy for Epubs version 0.1"
title_regex='^Plimsy for Epubs version 0\.1$'
[ -f "$exe" ] || { echo "gui.sh: there is no $exe" >&2; exit 1; }

# shellcheck source=wine-test-lib.sh
source "$source_dir/tests/windows/wine-test-lib.sh"
prefix=$(claim_prefix gui "$prefix")
wine_run=("$source_dir/scripts/wine-run" --prefix "$prefix" --display)
scratch=$(mktemp -d)
shots=${PLIMSY_GUI_SHOTS:-}
cleanup() {
  "$source_dir/scripts/wine-run" --prefix "$prefix" --stop
  x11_stop
  rm -rf "$prefix" "$prefix.lock" "$scratch"
}
trap cleanup EXIT
# A timeout's signal ends the script through the same cleanup.
trap 'exit 143' TERM INT
fresh_prefix gui "$prefix"
[ -z "$shots" ] || mkdir -p "$shots"
after_failure() { shot "FAIL"; }
# within SECONDS COMMAND...: COMMAND succeeds, tried again until SECONDS pass.
within() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.25
  done
}
not() { ! "$@"; }
unzip_tests_ok() { unzip -tq "$1" >/dev/null; }
# The whole screen, when screenshots are asked for.
shot_count=0
shot() {
  [ -n "$shots" ] || return 0
  shot_count=$((shot_count + 1))
  import -window root "$shots/$(printf '%02d' $shot_count)-$1.png" 2>/dev/null || true
}
give_up() {
  echo "gui.sh: $* (cannot go on; the program said: $(cat "$scratch"/*.log 2>/dev/null))" >&2
  exit 1
}
# dismiss ID KEY WHAT: KEY closes the window ID (a message box, a dialog).
dismiss() {
  local _
  for _ in 1 2; do
    press "$1" "$2" || true
    wait_until_gone "$1" 5 && break
  done
  check "$3 closed by $2" "$3 did not close on $2" not is_viewable "$1"
}
# Once a step is done only the main window is left: any other one is named,
# photographed and closed.
no_other_window() {
  local id
  sleep 1
  for id in $(visible_windows .); do
    [ "$id" = "$main" ] && continue
    fail "after $1 a window \"$(xdotool getwindowname "$id")\" is left open"
    press "$id" alt+F4 || true
  done
}
other_active() {
  local id
  id=$(active_window)
  [ -n "$id" ] && [ "$id" != "$main" ] && echo "$id"
}

echo "gui.sh: $(basename "$exe") under Wine in the prefix $prefix"
start=$SECONDS
x11_start "$scratch" || give_up "no display server"
# The prefix is made here, so that the waits below are for the program alone.
local_appdata=$(timeout --kill-after=10 300 "${wine_run[@]}" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r') ||
  give_up "no Wine prefix"
local_appdata=$(timeout --kill-after=10 60 "${wine_run[@]}" winepath -u "$local_appdata" 2>/dev/null | tr -d '\r')
settings=$local_appdata/Tarnwick/Plimsy/settings.xml
[ ! -e "$settings" ] || give_up "a fresh prefix has $settings"
echo "  (display $DISPLAY and the Wine prefix ready after $((SECONDS - start)) s)"
if [[ $exe == *-setup.exe ]]; then
  timeout --kill-after=10 120 "${wine_run[@]}" "$exe" /S >"$scratch/setup.log" 2>&1 || give_up "the installer failed"
  WINEPREFIX=$prefix timeout --kill-after=10 60 wineserver --wait || true
  exe=$local_appdata/Programs/Plimsy/plimsy.exe
  check "the installer put $(basename "$exe") in place" "the installer left no $exe" test -f "$exe"
  [ -f "$exe" ] || give_up "nothing to test"
fi

(
  status=0
  timeout --kill-after=10 240 "${wine_run[@]}" "$exe" >"$scratch/first.log" 2>&1 || status=$?
  echo "$status" >"$scratch/first.status"
) &
first_running() { [ ! -f "$scratch/first.status" ]; }

echo "The main window:"
main=$(wait_for_window "$title_regex" 90) || {
  shot no-window
  give_up "no window titled \"$title\" within 90 s"
}
name=$(xdotool getwindowname "$main")
check "\"$name\" is up" "the window is titled \"$name\", not \"$title\"" test "$name" = "$title"
# Its controls are drawn and it takes input once it is the active window.
within 10 activate "$main" || fail "the window does not become the active window"
sleep 1
shot main-window

echo "A second start:"
xdotool windowminimize "$main" 2>/dev/null || true
within 10 not is_viewable "$main" || echo "  (the window manager did not minimise the window)"
second_start=$SECONDS
status=0
timeout --kill-after=10 60 "${wine_run[@]}" "$exe" >"$scratch/second.log" 2>&1 || status=$?
check "ended with status 0 after $((SECONDS - second_start)) s" \
  "ended with status $status (124: it was still running after 60 s)" test $status -eq 0
check "the first window is shown again" "the first window stays hidden" within 10 is_viewable "$main"
main_is_active() { [ "$(active_window)" = "$main" ]; }
check "and is the active window" "the active window is not the first window" within 10 main_is_active
check "the first program still runs" "the first program ended" first_running
check "one main window" "$(visible_windows "$title_regex" | wc -l) main windows" \
  test "$(visible_windows "$title_regex" | wc -l)" -eq 1
shot second-start
no_other_window "the second start"

echo "The options dialog (Options):"
log=$scratch/logs/analysis.txt
mkdir -p "$scratch/logs"
click "$main_dlg" "$main" 1087 || fail "could not click Options"
if options=$(within 20 other_active); then
  pass "\"$(xdotool getwindowname "$options")\" is up"
  type_into "$options_dlg" "$options" 1091 "$(windows_path "$log")"
  # Opening the finished work would open other programs' windows.
  click "$options_dlg" "$options" 1059 left
  sleep 0.5
  shot options
  click "$options_dlg" "$options" 1
  check "Save closed it" "Save did not close it" wait_until_gone "$options" 10
else
  fail "no options dialog within 20 s"
fi
no_other_window "the options dialog"

echo "Zip (the two paths typed, then Enter):"
epub=$scratch/epubs/sample.epub
mkdir -p "$scratch/epubs"
type_into "$main_dlg" "$main" 1055 "$(windows_path "$book")\\"
type_into "$main_dlg" "$main" 1056 "$(windows_path "$epub")"
shot zip-paths
press "$main" Return
if box=$(wait_for_window '^Plimsy$' 60 "$main"); then
  shot zip-message
  dismiss "$box" Return "the message box"
else
  fail "no message box \"Plimsy\" within 60 s"
fi
if [ -f "$epub" ]; then
  check "the epub passes unzip -t" "unzip -t finds faults in the epub" unzip_tests_ok "$epub"
  first=$(unzip -Z1 "$epub" 2>/dev/null | head -1)
  check "its first entry is mimetype" "its first entry is '$first', not mimetype" test "$first" = mimetype
else
  fail "there is no epub $epub"
fi
no_other_window "the zip"

echo "A second start with the epub (plimsy.exe ...\\sample.epub), then Enter:"
beside=${epub%.epub}
second_start=$SECONDS
status=0
timeout --kill-after=10 60 "${wine_run[@]}" "$exe" "$(windows_path "$epub")" >"$scratch/second-path.log" 2>&1 ||
  status=$?
check "ended with status 0 after $((SECONDS - second_start)) s" \
  "ended with status $status (124: it was still running after 60 s)" test $status -eq 0
check "the first program still runs" "the first program ended" first_running
# The window saves its lines as soon as it takes a path.
for element in "<ZipPath>$(windows_path "$epub")</ZipPath>" "<FilesDir>$(windows_path "$beside")</FilesDir>"; do
  check "the window took $element" "the window did not take $element: $(tr -d '\r' <"$settings" 2>/dev/null |
    grep -E 'ZipPath|FilesDir' | tr '\n' ' ')" within 10 grep -qF -- "$element" "$settings"
done
shot second-start-with-epub
press "$main" Return
if box=$(wait_for_window '^Plimsy$' 60 "$main"); then
  shot second-start-unzip-message
  dismiss "$box" Return "the message box"
else
  fail "no message box \"Plimsy\" within 60 s"
fi
if diff -r "$book" "$beside" >"$scratch/diff" 2>&1; then
  pass "Enter unzipped it beside the epub ($(find "$beside" -type f | wc -l) files)"
else
  fail "Enter did not unzip the epub into $beside: $(head -c 2000 "$scratch/diff")"
fi
no_other_window "the second start with the epub"

echo "Unzip (the Unzip button, into a new folder):"
unpacked=$scratch/unpacked
type_into "$main_dlg" "$main" 1055 "$(windows_path "$unpacked")\\"
click "$main_dlg" "$main" 2001 || fail "could not click Unzip"
if box=$(wait_for_window '^Plimsy$' 60 "$main"); then
  shot unzip-message
  dismiss "$box" Return "the message box"
else
  fail "no message box \"Plimsy\" within 60 s"
fi
if diff -r "$book" "$unpacked" >"$scratch/diff" 2>&1; then
  pass "the unpacked tree equals the sample book ($(find "$unpacked" -type f | wc -l) files)"
else
  fail "the unpacked tree differs from the sample book: $(head -c 2000 "$scratch/diff")"
fi
no_other_window "the unzip"

echo "Analysis (A):"
click "$main_dlg" "$main" 2003 || fail "could not click A"
if dialog=$(wait_for_window . 60 "$main"); then
  shot analysis
  pass "\"$(xdotool getwindowname "$dialog")\" is up"
  if [ -s "$log" ]; then
    missing=$(cd "$book" && find . -type f | sed 's|^\./||' | while read -r file; do
      grep -qF "Filename: $file" "$log" || echo "$file"
    done)
    check "the log $(basename "$log") names every file of the book" "the log misses $missing" test -z "$missing"
  else
    fail "there is no analysis log $log"
  fi
  dismiss "$dialog" Escape "the analysis dialog"
else
  fail "no analysis dialog within 60 s"
fi
no_other_window "the analysis"

echo "Check (the sound epub):"
cp "$epub" "$scratch/sound.epub"
click "$main_dlg" "$main" 2004 || fail "could not click Check"
if result=$(wait_for_window '^Check: sample\.epub$' 60 "$main"); then
  shot check-sound
  pass "\"$(xdotool getwindowname "$result")\" is up"
  # Repair is not offered: a click where it would be does nothing.
  click "$check_dlg" "$result" 1204 || true
  sleep 1
  check "Repair is not offered" "a click where Repair would be closed the result" is_viewable "$result"
  dismiss "$result" Escape "the result of the check"
  check "the epub is as it was" "Check changed the epub" cmp -s "$epub" "$scratch/sound.epub"
else
  fail "no result \"Check: sample.epub\" within 60 s"
fi
no_other_window "the check"

echo "Check and Repair (an epub whose mimetype is deflated):"
broken=$scratch/repair/broken.epub
mkdir -p "$scratch/repair"
python3 - "$book" "$broken" <<'PYTHON'
import os, sys, zipfile
book, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as epub:
    epub.write(os.path.join(book, "mimetype"), "mimetype")  # deflated: a fault repack mends
    for folder, _, files in sorted(os.walk(book)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            entry = os.path.relpath(path, book).replace(os.sep, "/")
            if entry != "mimetype":
                epub.write(path, entry)
PYTHON
cp "$broken" "$scratch/broken-before.epub"
mimetype_stored() {
  python3 -c 'import sys, zipfile; i = zipfile.ZipFile(sys.argv[1]).infolist()[0]
sys.exit(0 if i.filename == "mimetype" and i.compress_type == zipfile.ZIP_STORED else 1)' "$1"
}
type_into "$main_dlg" "$main" 1056 "$(windows_path "$broken")"
click "$main_dlg" "$main" 2004 || fail "could not click Check"
if result=$(wait_for_window '^Check: broken\.epub$' 60 "$main"); then
  shot check-broken
  pass "\"$(xdotool getwindowname "$result")\" is up"
  click "$check_dlg" "$result" 1204 || fail "could not click Repair"
  check "Repair closed the first result" "Repair did not close the result" wait_until_gone "$result" 30
  if again=$(wait_for_window '^Check: broken\.epub$' 60 "$main"); then
    shot check-repaired
    pass "the result of the check after the repair is up"
    dismiss "$again" Escape "the result after the repair"
  else
    fail "no result after the repair within 60 s"
  fi
  check "the repaired epub's mimetype is first and stored" "the epub's mimetype is still not stored" \
    mimetype_stored "$broken"
  check "the repaired epub passes unzip -t" "unzip -t finds faults in the repaired epub" unzip_tests_ok "$broken"
  backups=$(find "$scratch/repair" -type f ! -name broken.epub -exec cmp -s {} "$scratch/broken-before.epub" \; -print |
    wc -l)
  check "the old epub is backed up beside it" "$backups backups of the old epub beside it, not 1" test "$backups" -eq 1
else
  fail "no result \"Check: broken.epub\" within 60 s"
fi
no_other_window "the repair"
# The epub line as it was, for the settings checked at the end.
type_into "$main_dlg" "$main" 1056 "$(windows_path "$epub")"

echo "Close (Escape):"
press "$main" Escape || fail "could not press Escape in the main window"
if within 30 not first_running; then
  status=$(cat "$scratch/first.status")
  check "the program ended with status 0" "the program ended with status $status" test "$status" -eq 0
else
  fail "the program still runs 30 s after Escape"
fi
check "the window is gone" "the window is still there" not is_viewable "$main"
if [ -f "$settings" ]; then
  pass "settings.xml is in LOCALAPPDATA\\Tarnwick\\Plimsy"
  lines=$(tr -cd '\n' <"$settings" | wc -c)
  crlfs=$(grep -c $'\r$' "$settings" || true)
  crs=$(tr -cd '\r' <"$settings" | wc -c)
  bom=$(head -c 3 "$settings" | od -An -tx1 | tr -d ' ')
  check "19 lines" "$lines lines, not 19" test "$lines" -eq 19
  check "every line ends in CR LF" "$crlfs of $lines lines end in CR LF ($crs CRs)" \
    test "$crlfs" -eq "$lines" -a "$crs" -eq "$lines" -a "$(tail -c 1 "$settings" | od -An -tx1 | tr -d ' ')" = 0a
  check "it starts with a UTF-8 byte-order mark" "it starts with the bytes $bom, not ef bb bf" test "$bom" = efbbbf
  # What was typed and chosen, kept for the next start.
  for element in "<ZipPath>$(windows_path "$epub")</ZipPath>" "<FilesDir>$(windows_path "$unpacked")" \
    "<AnalyzeZipLogPath>$(windows_path "$log")</AnalyzeZipLogPath>" "<OpenFinishedWork>false</OpenFinishedWork>"; do
    check "it keeps $element" "it has no $element: $(tr -d '\r' <"$settings" | tr '\n' ' ')" grep -qF -- "$element" "$settings"
  done
else
  fail "there is no $settings"
fi

echo "gui.sh: took $((SECONDS - start)) s"
end_report gui "the window works"
