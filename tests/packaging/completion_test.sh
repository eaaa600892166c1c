#!/usr/bin/env bash
# plimsy-cli's bash completion, through bash-completion's own loader:
#
#   completion_test.sh COMPLETION_FILE PLIMSY_CLI
#
# A table of command lines and what completing their last word offers, in a
# scratch folder of a book folder, an epub, a zip and a text file; then every
# command and option that PLIMSY_CLI's --help lists must be offered.
set -uo pipefail
export LC_ALL=C
completion=$(realpath "$1")
cli=$(realpath "$2")

loader=/usr/share/bash-completion/bash_completion
if [ ! -f "$loader" ]; then
  echo "bash-completion is not installed ($loader is missing)"
  [ "${PLIMSY_REQUIRE_TOOLS:-}" = 1 ] && exit 1
  exit 77
fi
# shellcheck source=/dev/null
source "$loader"
# shellcheck source=/dev/null
source "$completion"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir book "old backups"
touch a.epub b.zip notes.txt

failures=0

# Completes LINE as bash would with the cursor at its end: the words split
# at blanks, and "=" a word of its own (as COMP_WORDBREAKS has it). Prints
# the offers sorted, on one line.
offers() {
  local line=$1 word
  local -a split=()
  read -ra split <<<"$line"
  [[ $line == *" " ]] && split+=("")
  COMP_WORDS=()
  for word in "${split[@]}"; do
    if [[ $word == --*=* ]]; then
      COMP_WORDS+=("${word%%=*}" "=" "${word#*=}")
    else
      COMP_WORDS+=("$word")
    fi
  done
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _plimsy_cli plimsy-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

check() {
  local line=$1 expected=$2 got
  got=$(offers "$line")
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' offers [$got], expected [$expected]"
    failures=$((failures + 1))
  fi
}

#     the command line                                what completing its last word offers
check 'plimsy-cli '                                   'analyze check repack unzip zip'
check 'plimsy-cli un'                                 'unzip'
check 'plimsy-cli --v'                                '--version'
check 'plimsy-cli zip '                               'book old backups'
check 'plimsy-cli zip book '                          'a.epub book old backups'
check 'plimsy-cli zip --threads 4 book '              'a.epub book old backups'
check 'plimsy-cli zip --level=9 book '                'a.epub book old backups'
check 'plimsy-cli zip book a.epub --de'               '--deflate-compressed'
check 'plimsy-cli unzip '                             'a.epub book old backups'
check 'plimsy-cli unzip a.epub '                      'book old backups'
check 'plimsy-cli unzip --no-'                        '--no-backup --no-real-times'
check 'plimsy-cli unzip a.epub --backup-dir '         'book old backups'
check 'plimsy-cli analyze '                           'a.epub b.zip book old backups'
check 'plimsy-cli analyze a.epub --log '              'a.epub b.zip book notes.txt old backups'
check 'plimsy-cli repack '                             'a.epub b.zip book old backups'
check 'plimsy-cli repack a.epub '                     'a.epub book old backups'
check 'plimsy-cli repack --level '                    '0 1 2 3 4 5 6 7 8 9'
check 'plimsy-cli zip --level='                       '0 1 2 3 4 5 6 7 8 9'
check 'plimsy-cli zip --datetime '                    ''
check 'plimsy-cli check a.epub --format '             'json text'
check 'plimsy-cli check a.epub --'                    '--deep --format --help --quiet'

# What the program has: each command of its --help, and each long option of
# each command's --help, must be completed.
commands=$("$cli" --help | sed -n '/^Subcommands:/,$s/^  \([a-z][a-z-]*\) .*/\1/p')
if [ -z "$commands" ]; then
  echo "FAIL: no commands found in the output of $cli --help"
  failures=$((failures + 1))
fi
for command in $commands; do
  [[ " $(offers 'plimsy-cli ') " == *" $command "* ]] || {
    echo "FAIL: the command $command is not completed"
    failures=$((failures + 1))
  }
  offered=" $(offers "plimsy-cli $command --") "
  for option in $("$cli" "$command" --help | grep -E '^  -' | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    [[ $offered == *" $option "* ]] || {
      echo "FAIL: plimsy-cli $command $option is not completed"
      failures=$((failures + 1))
    }
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "bash completion: every case passed"
