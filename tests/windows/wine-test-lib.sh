# shellcheck shell=bash
# What the Wine test scripts share (sourced by installer.sh and gui.sh, which
# set source_dir first): a Wine prefix of the test's own, made afresh and
# never one of somebody else's, and the "ok:"/"FAIL:" report.
: "${source_dir:?wine-test-lib.sh: source_dir must name the checkout}"

# claim_prefix TEST PREFIX: the prefix's absolute path, when it is empty or
# one that TEST made before; otherwise the script ends.
claim_prefix() {
  local test=$1 prefix=$2
  mkdir -p "$prefix"
  prefix=$(cd "$prefix" && pwd)
  if [ -n "$(ls -A "$prefix")" ] && [ ! -f "$prefix/.plimsy-$test-test" ]; then
    echo "$test.sh: $prefix is not empty and not one of this test's prefixes; not touching it" >&2
    exit 1
  fi
  echo "$prefix"
}

# fresh_prefix TEST PREFIX: stops the prefix's programs and empties it.
fresh_prefix() {
  "$source_dir/scripts/wine-run" --prefix "$2" --stop
  rm -rf "$2"
  mkdir -p "$2"
  touch "$2/.plimsy-$1-test"
}

failures=0
pass() { echo "  ok: $*"; }
# Counts a failure; a script's after_failure, when it has one, runs then.
fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
  if declare -F after_failure >/dev/null; then after_failure; fi
}
# check WHAT_IS_RIGHT WHAT_IS_WRONG COMMAND...: passes when COMMAND succeeds.
check() {
  local right=$1 wrong=$2
  shift 2
  if "$@"; then pass "$right"; else fail "$wrong"; fi
}
# end_report TEST WHAT_WORKS: the script's end, with status 1 after any failure.
end_report() {
  if [ "$failures" -gt 0 ]; then
    echo "$1.sh: $failures check(s) FAILED" >&2
    exit 1
  fi
  echo "$1.sh: $2"
}
