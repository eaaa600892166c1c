#!/usr/bin/env bash
# The Windows installer end to end under Wine, in a fresh Wine prefix of its
# own (removed at the end): a silent install, what it put where (files
# equal to the portable zip's, the Start-menu shortcut, the uninstall entry,
# the "Open with" file type when the window is there), the installed
# plimsy-cli.exe zipping the sample book; with the installed plimsy.exe
# running (on a display server of its own), a silent install and a silent
# uninstall that fail and change nothing, and after it is closed, a silent
# install again and a silent uninstall that leaves nothing behind, and
# nothing of another program's .epub file type missing.
#
#   tests/windows/installer.sh SETUP.exe PREFIX
#
# SETUP.exe is dist/plimsy-<version>-setup.exe; the portable zip beside it,
# plimsy-<version>-win64.zip, says which files belong in the installation.
# PREFIX is the Wine prefix to make (it must not exist, or be one this script
# made before). Every wait is bounded.
set -euo pipefail

setup=$(realpath "$1")
prefix=${2:?installer.sh: give the Wine prefix to use}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
zip=${setup%-setup.exe}-win64.zip
[ -f "$zip" ] || { echo "installer.sh: the portable zip $zip is missing" >&2; exit 1; }

# shellcheck source=wine-test-lib.sh
source "$source_dir/tests/windows/wine-test-lib.sh"
# shellcheck source=../../scripts/wine-x11.sh
source "$source_dir/scripts/wine-x11.sh"
prefix=$(claim_prefix installer "$prefix")
wine_run() { timeout --kill-after=10 "${WINE_TIMEOUT:-300}" "$source_dir/scripts/wine-run" --prefix "$prefix" "$@"; }
# Waits until every program of the prefix has ended (an NSIS uninstaller
# copies itself to the temporary folder and goes on from there).
wine_wait() { WINEPREFIX=$prefix timeout --kill-after=10 120 wineserver --wait; }
scratch=$(mktemp -d)
cleanup() {
  "$source_dir/scripts/wine-run" --prefix "$prefix" --stop
  x11_stop
  rm -rf "$prefix" "$prefix.lock" "$scratch"
}
trap cleanup EXIT
# A timeout's signal ends the script through the same cleanup.
trap 'exit 143' TERM INT
fresh_prefix installer "$prefix"

# reg_value KEY NAME: the value's data, or nothing (status 1) when it is
# missing; the NAME (Default) is the key's default value.
reg_value() {
  local out which=(/v "$2")
  [ "$2" = "(Default)" ] && which=(/ve)
  out=$(wine_run reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r') || return 1
  grep -qF "    $2    REG_" <<<"$out" || return 1
  grep -F "    $2    REG_" <<<"$out" | head -1 | sed 's/^ *[^ ].*    REG_[A-Z_]*    //; s/^ *[^ ].*    REG_[A-Z_]*$//'
}
reg_key_exists() { wine_run reg query "$1" >/dev/null 2>&1; }
has_value() { reg_value "$@" >/dev/null; }
not() { ! "$@"; }
unix_path() { wine_run winepath -u "$1" 2>/dev/null | tr -d '\r'; }

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Plimsy'
progid_key='HKCU\Software\Classes\Tarnwick.Plimsy.epub'
open_with_key='HKCU\Software\Classes\.epub\OpenWithProgids'

echo "installer.sh: $(basename "$setup") in the Wine prefix $prefix"
# Another program's .epub file type, there before Plimsy: it must outlive
# Plimsy's uninstaller.
wine_run reg add 'HKCU\Software\Classes\.epub' /ve /d Other.Reader.epub /f >/dev/null 2>&1
wine_run reg add "$open_with_key" /v Other.Reader.epub /d '' /f >/dev/null 2>&1

wine_run "$setup" /S || fail "setup.exe /S exited with status $?"
wine_wait

echo "The installation:"
location=$(reg_value "$uninstall_key" InstallLocation) || location=""
local_appdata=$(wine_run cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
if [ "$location" = "$local_appdata\\Programs\\Plimsy" ]; then
  pass "installed into $location"
else
  fail "InstallLocation is '$location', not $local_appdata\\Programs\\Plimsy"
fi
dir=$(unix_path "${location:-C:\\missing}")
if [ -n "$location" ] && [ -d "$dir" ]; then
  # The same files as the portable zip, and the uninstaller.
  unzip -q "$zip" -d "$scratch/zip"
  if diff -r "$scratch"/zip/* "$dir" -x Uninstall.exe >"$scratch/diff" 2>&1; then
    pass "the installed files equal the portable zip's ($(find "$dir" -type f ! -name Uninstall.exe | wc -l) files)"
  else
    fail "the installed files differ from the portable zip's: $(cat "$scratch/diff")"
  fi
  for file in plimsy-cli.exe Uninstall.exe docs/help.html licences/README.txt licences/zlib.txt; do
    check "$file" "$file is missing" test -s "$dir/$file"
  done
else
  fail "no installation folder ($dir)"
fi

programs=$(unix_path "$(wine_run cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs")
window=false
[ -n "$location" ] && [ -f "$dir/plimsy.exe" ] && window=true
if $window; then shortcut="Plimsy.lnk"; else shortcut="Plimsy User Guide.lnk"; fi
check "Start menu: $shortcut" "the Start-menu shortcut $shortcut is missing" test -f "$programs/$shortcut"

echo "The uninstall entry ($uninstall_key):"
expect_value() {
  local key=$1 name=$2 expected=$3 actual
  actual=$(reg_value "$key" "$name") || { fail "$name is missing"; return; }
  check "$name = $actual" "$name is '$actual', not '$expected'" test "$actual" = "$expected"
}
version=$(basename "$setup" -setup.exe)
version=${version#plimsy-}
expect_value "$uninstall_key" DisplayName Plimsy
# The version people see: the installer's name, the entry, the programs' own.
expect_value "$uninstall_key" DisplayVersion "$version"
if [ -n "$location" ] && [ -f "$dir/plimsy-cli.exe" ]; then
  stated=$(wine_run "$dir/plimsy-cli.exe" --version 2>/dev/null | tr -d '\r')
  check "plimsy-cli.exe --version: $stated" "plimsy-cli.exe --version says '$stated', not version $version" \
    grep -q "^plimsy-cli $version (file version [0-9.]*)$" <<<"$stated"
fi
expect_value "$uninstall_key" Publisher Tarnwick
expect_value "$uninstall_key" UninstallString "\"$location\\Uninstall.exe\""
expect_value "$uninstall_key" QuietUninstallString "\"$location\\Uninstall.exe\" /S"
expect_value "$uninstall_key" NoModify 0x1
expect_value "$uninstall_key" NoRepair 0x1
size=$(reg_value "$uninstall_key" EstimatedSize) || size=0
check "EstimatedSize = $((size)) KB" "EstimatedSize is '$size'" test $((size)) -gt 100

echo "Open with Plimsy (.epub):"
if $window; then
  expect_value "$progid_key\\shell\\open\\command" "(Default)" "\"$location\\plimsy.exe\" \"%1\""
  check "listed in $open_with_key" "Tarnwick.Plimsy.epub is not in $open_with_key" \
    has_value "$open_with_key" Tarnwick.Plimsy.epub
else
  check "not offered: there is no plimsy.exe" "$progid_key exists without plimsy.exe" \
    not reg_key_exists "$progid_key"
fi

echo "The installed plimsy-cli.exe:"
cp -r "$source_dir/examples/sample-book" "$scratch/book"
if wine_run "$dir/plimsy-cli.exe" zip "$scratch/book" "$scratch/sample.epub" --no-backup --quiet &&
  unzip -tq "$scratch/sample.epub" >/dev/null; then
  pass "zipped the sample book into an epub that unzip -t accepts"
else
  fail "the installed plimsy-cli.exe did not zip the sample book into a sound epub"
fi

# The installation's files and their contents, to compare before and after.
installed_state() { (cd "$dir" 2>/dev/null && find . -type f -print0 | sort -z | xargs -0 md5sum); }
if $window; then
  echo "With the installed plimsy.exe running:"
  installed_state >"$scratch/before.txt"
  x11_start "$scratch" || fail "no display server for plimsy.exe"
  # Wine's desktop picks its graphics driver when it starts: the programs so
  # far ran without a display, so theirs must end before the window starts.
  wine_wait
  (
    status=0
    timeout --kill-after=10 240 "$source_dir/scripts/wine-run" --prefix "$prefix" --display "$dir/plimsy.exe" \
      >"$scratch/plimsy.log" 2>&1 || status=$?
    echo "$status" >"$scratch/plimsy.status"
  ) &
  running() { [ ! -f "$scratch/plimsy.status" ]; }
  main=$(wait_for_window '^Plimsy for Epubs version ' 90) || main=""
  if [ -z "$main" ]; then
    fail "plimsy.exe showed no window within 90 s: $(cat "$scratch/plimsy.log")"
  else
    pass "plimsy.exe runs"
    status=0
    wine_run "$setup" /S || status=$?
    check "setup.exe /S refuses with status $status" "setup.exe /S ended with status $status while Plimsy ran" \
      test "$status" -eq 2
    # Run in place (_?=), the uninstaller ends with its own code.
    status=0
    wine_run "$dir/Uninstall.exe" /S "_?=$location" || status=$?
    check "Uninstall.exe /S refuses with status $status" \
      "Uninstall.exe /S ended with status $status while Plimsy ran" test "$status" -eq 2
    installed_state >"$scratch/after.txt"
    check "the installed files are as they were" "the installed files changed: $(diff "$scratch/before.txt" "$scratch/after.txt")" \
      cmp -s "$scratch/before.txt" "$scratch/after.txt"
    check "the uninstall entry is still there" "the uninstall entry is gone" reg_key_exists "$uninstall_key"
    check "the shortcut is still there" "the shortcut $shortcut is gone" test -f "$programs/$shortcut"
    press "$main" Escape || true
    for ((i = 0; i < 120; i++)); do
      running || break
      sleep 0.25
    done
    check "plimsy.exe closed" "plimsy.exe still runs 30 s after Escape" not running
  fi
  x11_stop
  if ! running; then
    wine_wait
    echo "After plimsy.exe has closed:"
    status=0
    wine_run "$setup" /S || status=$?
    check "setup.exe /S installs again" "setup.exe /S ended with status $status" test "$status" -eq 0
    wine_wait
    installed_state >"$scratch/again.txt"
    check "the same files" "the installed files differ after installing again" \
      cmp -s "$scratch/before.txt" "$scratch/again.txt"
  fi
fi

echo "The uninstaller (Uninstall.exe /S):"
wine_run "$dir/Uninstall.exe" /S || fail "Uninstall.exe /S exited with status $?"
wine_wait
check "the installation folder is gone" "left behind: $(cd "$dir" 2>/dev/null && find . -mindepth 1 | tr '\n' ' ')" \
  test ! -e "$dir"
check "the shortcut is gone" "the shortcut $shortcut is left" test ! -e "$programs/$shortcut"
for key in "$uninstall_key" "$progid_key"; do
  check "$key is gone" "$key is left" not reg_key_exists "$key"
done
check "Tarnwick.Plimsy.epub is not in $open_with_key" "Tarnwick.Plimsy.epub is left in $open_with_key" \
  not has_value "$open_with_key" Tarnwick.Plimsy.epub
# Another program's file type stays as it was.
other_type() {
  [ "$(reg_value 'HKCU\Software\Classes\.epub' '(Default)')" = Other.Reader.epub ] &&
    has_value "$open_with_key" Other.Reader.epub
}
check "another program's .epub file type is untouched" "another program's .epub file type was changed" other_type

end_report installer "the installer and the uninstaller work"
