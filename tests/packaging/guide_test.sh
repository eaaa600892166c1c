#!/usr/bin/env bash
# The user guide of each system from the one docs/help.html: the Windows guide
# that cmake/guide-for-windows.cmake makes for the zip and the installer shows
# the Windows screenshots and paths and nothing of Linux's; the marks it reads
# are checked on small guides of the test's own.
#
#   guide_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
for_windows() { cmake -DINPUT="$1" -DOUTPUT="$2" -P "$source_dir/cmake/guide-for-windows.cmake" >"$scratch/cmake.log" 2>&1; }

# The marks: input | the Windows guide ("ERROR" when the build must stop).
cases=(
  'a<!--linux-->L<!--/linux-->b|ab'
  'a<!--linux-->L<!--/linux--><!--windows W windows-->b|aWb'
  'x<!--windows <code>%LOCALAPPDATA%\P</code> windows-->y|x<code>%LOCALAPPDATA%\P</code>y'
  '<!--linux-->1<!--/linux-->-<!--linux-->2<!--/linux-->|-'
  '<img src="screenshots/main-dialog.png">|<img src="screenshots/windows-main-dialog.png">'
  '<a href="https://example.org/screenshots/x.png">|<a href="https://example.org/screenshots/x.png">'
  'a<!--linux-->L|ERROR'
  'a<!--windows W|ERROR'
  'a L<!--/linux-->|ERROR'
)
for case in "${cases[@]}"; do
  input=${case%|*}
  expected=${case##*|}
  printf '%s' "$input" >"$scratch/in.html"
  rm -f "$scratch/out.html"
  if for_windows "$scratch/in.html" "$scratch/out.html"; then
    actual=$(cat "$scratch/out.html")
  else
    actual=ERROR
  fi
  [ "$actual" = "$expected" ] || fail "'$input' gives '$actual' for Windows, not '$expected'"
done

# The real guide.
guide=$source_dir/docs/help.html
if ! for_windows "$guide" "$scratch/help.html"; then
  cat "$scratch/cmake.log"
  fail "cmake/guide-for-windows.cmake could not make the Windows guide"
else
  windows=$scratch/help.html
  for linux_only in '~/.config' 'XDG_CONFIG_HOME' 'file manager' '<!--linux' 'windows-->'; do
    ! grep -qF -- "$linux_only" "$windows" || fail "the Windows guide has '$linux_only'"
  done
  grep -qF '<code>%LOCALAPPDATA%\Tarnwick\Plimsy\settings.xml</code>' "$windows" ||
    fail "the Windows guide does not name %LOCALAPPDATA%\\Tarnwick\\Plimsy\\settings.xml"
  grep -qF '<code>~/.config/Tarnwick/Plimsy/settings.xml</code>' "$guide" ||
    fail "the Linux guide does not name ~/.config/Tarnwick/Plimsy/settings.xml"
  # Each guide's pictures are its own system's, and there.
  for system in linux windows; do
    file=$guide
    [ $system = windows ] && file=$windows
    pictures=$(grep -o 'src="[^"]*"' "$file" | sed 's/^src="//; s/"$//')
    [ -n "$pictures" ] || fail "the $system guide shows no picture"
    for picture in $pictures; do
      [ -f "$source_dir/docs/$picture" ] || fail "the $system guide shows docs/$picture, which is missing"
      name=$(basename "$picture")
      if [[ ($system == linux && $name == windows-*) || ($system == windows && $name != windows-*) ]]; then
        fail "the $system guide shows $picture"
      fi
    done
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "the Linux and the Windows guide: every check passed"
