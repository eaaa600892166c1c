#!/usr/bin/env bash
# The Debian package, made by CPack from a build and unpacked into a scratch
# root (dpkg -x):
#
#   deb_test.sh BUILD_DIR SOURCE_DIR
#
# its file list, its control fields and dependencies, the versions it states,
# its manual pages (every command and option of plimsy-cli's --help), its
# desktop entry and AppStream metadata as their validators see them, and the
# desktop entry offering Plimsy for epubs to xdg-mime.
set -uo pipefail
export LC_ALL=C.UTF-8
build=$(realpath "$1")
source_dir=$(realpath "$2")

missing=()
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli xdg-mime update-desktop-database man; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing tools: ${missing[*]} (scripts/install-deps.sh installs them)"
  [ "${PLIMSY_REQUIRE_TOOLS:-}" = 1 ] && exit 1
  exit 77
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The package, in a folder of the test's own (not dist/).
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not make the package"
  exit 1
fi
debs=("$scratch"/cpack/plimsy_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: cpack made no single plimsy_<version>_amd64.deb: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}
root=$scratch/root
dpkg -x "$deb" "$root"

# Control fields.
# The package carries the version people see; the file version appears only
# in plimsy-cli --version.
version=$(sed -n 's/^PLIMSY_DISPLAY_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
file_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "the build's CMakeCache.txt has no PLIMSY_DISPLAY_VERSION"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = plimsy ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(basename "$deb")" = "plimsy_${version}_amd64.deb" ] || fail "the package is named $(basename "$deb")"
depends=$(field Depends)
for library in 'libc6' 'zlib1g' 'libfmt[0-9]+' 'libqt6widgets6' 'libstdc\+\+6'; do
  grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library (dpkg-shlibdeps): $depends"
done
# The window's platform plugins are loaded, not linked: no library tells
# dpkg-shlibdeps, and installed without recommends the window cannot start.
grep -Eq "(^|, )qt6-qpa-plugins( |,|$)" <<<"$depends" || fail "Depends lacks qt6-qpa-plugins: $depends"

# The files, and the links' targets inside the package.
expected=(
  usr/bin/plimsy
  usr/bin/plimsy-cli
  usr/share/applications/plimsy.desktop
  usr/share/bash-completion/completions/plimsy-cli
  usr/share/doc/plimsy/changelog.gz
  usr/share/doc/plimsy/copyright
  usr/share/doc/plimsy/help.html
  usr/share/doc/plimsy/screenshots
  usr/share/man/man1/plimsy-cli.1.gz
  usr/share/man/man1/plimsy.1.gz
  usr/share/metainfo/io.github.plimsy.Plimsy.metainfo.xml
  usr/share/plimsy/help.html
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/plimsy.png")
done
for picture in "$source_dir"/docs/screenshots/*.png; do
  name=$(basename "$picture")
  [[ $name == windows-* ]] || expected+=("usr/share/plimsy/screenshots/$name")
done
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected.txt"
(cd "$root" && find . \( -type f -o -type l \) -printf '%P\n' | sort) >"$scratch/packaged.txt"
if ! diff -u "$scratch/expected.txt" "$scratch/packaged.txt" >"$scratch/files.diff"; then
  fail "the package's files differ from those expected (- expected, + packaged):"
  tail -n +3 "$scratch/files.diff"
fi
for link in usr/share/doc/plimsy/help.html usr/share/doc/plimsy/screenshots; do
  if [ ! -L "$root/$link" ] || [ ! -e "$root/$link" ]; then fail "$link is not a link to a file of the package"; fi
done
for size in 16 48 256; do
  identified=$(file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/plimsy.png")
  [[ $identified == "PNG image data, $size x $size,"* ]] || fail "the ${size}x${size} icon is $identified"
done

# Versions: the program's, the changelog's latest entry and the AppStream release.
[ "$("$root/usr/bin/plimsy-cli" --version)" = "plimsy-cli $version (file version $file_version)" ] ||
  fail "plimsy-cli --version does not state $version and $file_version: $("$root/usr/bin/plimsy-cli" --version)"
changelog_version=$(zcat "$root/usr/share/doc/plimsy/changelog.gz" | sed -n '1s/^plimsy (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's latest entry is for '$changelog_version', not $version (add one to resources/linux/changelog)"
grep -q "<release version=\"$version\" date=\"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\"" \
  "$root/usr/share/metainfo/io.github.plimsy.Plimsy.metainfo.xml" || fail "the AppStream metadata has no release $version"

# Validators.
desktop-file-validate "$root/usr/share/applications/plimsy.desktop" || fail "desktop-file-validate"
# (validate-tree also finds the desktop entry that the metadata launches)
appstreamcli validate-tree --no-net "$root" >"$scratch/appstream.txt" ||
  { cat "$scratch/appstream.txt"; fail "appstreamcli validate-tree"; }

# The manual pages: rendered without a warning; plimsy-cli's names every
# command and long option that the program's --help lists.
for page in plimsy plimsy-cli; do
  MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" >"$scratch/$page.txt" 2>"$scratch/$page.warnings"
  [ -s "$scratch/$page.txt" ] || fail "man shows nothing for $page.1.gz"
  [ ! -s "$scratch/$page.warnings" ] || { cat "$scratch/$page.warnings"; fail "man warns about $page.1.gz"; }
done
zcat "$root/usr/share/man/man1/plimsy-cli.1.gz" | sed 's/\\-/-/g' >"$scratch/plimsy-cli.roff"
cli=$root/usr/bin/plimsy-cli
commands=$("$cli" --help | sed -n '/^Subcommands:/,$s/^  \([a-z][a-z-]*\) .*/\1/p')
[ -n "$commands" ] || fail "no commands found in plimsy-cli --help"
for command in $commands; do
  grep -qx "\.B plimsy-cli $command" "$scratch/plimsy-cli.roff" || fail "plimsy-cli.1 has no synopsis of $command"
  for option in $("$cli" "$command" --help | grep -E '^  -' | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qe "$option\b" "$scratch/plimsy-cli.roff" || fail "plimsy-cli.1 does not name $command's $option"
  done
done

# Installed for one user only, the desktop entry is what xdg-mime offers for
# epubs (update-desktop-database writes the MIME cache it reads); nothing of
# this machine's own takes part.
export HOME=$scratch/home XDG_DATA_HOME=$scratch/home/.local/share XDG_CONFIG_HOME=$scratch/home/.config
export XDG_DATA_DIRS=$scratch/no-data XDG_CONFIG_DIRS=$scratch/no-config
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
cp "$root/usr/share/applications/plimsy.desktop" "$XDG_DATA_HOME/applications/"
update-desktop-database "$XDG_DATA_HOME/applications"
default=$(xdg-mime query default application/epub+zip)
[ "$default" = plimsy.desktop ] || fail "xdg-mime offers '$default' for application/epub+zip, not plimsy.desktop"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "$(basename "$deb"): every check passed"
