#!/usr/bin/env bash
# zubcli's bash completion: options and their values from the program, --set keys and values,
# video files. Skipped when bash-completion (which the script builds on) is not installed.
set -u
completion=$1 bindir=$2
base=/usr/share/bash-completion/bash_completion
if [ ! -r "$base" ]; then
  echo "SKIP: bash-completion is not installed"
  exit 0
fi
# shellcheck source=/dev/null
. "$base"
# shellcheck source=/dev/null
. "$completion"
compopt() { :; }  # only bash's own completion may call it
PATH="$bindir:$PATH"
export ZUB_REGISTRY=/nonexistent/zub-defaults.ini
cd "$(mktemp -d)" || exit 1
touch a.ser b.avi notes.txt
mkdir pics

# The words bash hands over for LINE (cursor at its end), then the replies one a line.
complete_line() {
  COMP_LINE=$1 COMP_POINT=${#1}
  # Split as bash does, '=' a word of its own.
  local split=${1//=/ = }
  read -ra COMP_WORDS <<< "$split"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  [[ $1 == *= ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _zubcli zubcli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
failures=0
expect() {
  local got
  got=$(complete_line "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: '$1' completes to:"; echo "$got"; echo "expected:"; echo "$2"
    failures=$((failures + 1))
  fi
}

expect "zubcli --js" "--json"
expect "zubcli --list-" "$(printf -- '--list-settings\n--list-videos')"
expect "zubcli --channel g" "$(printf 'gray\ngreen')"
expect "zubcli --set KIV_Algorithm.MinI" "KIV_Algorithm.MinIncrBright="
expect "zubcli --set KIV_Algorithm.MinIncrBright=" "20"
expect "zubcli --images " "pics"
expect "zubcli " "$(printf 'a.ser\nb.avi\npics')"
expect "zubcli --jobs " ""
[ "$failures" -eq 0 ] || exit 1
echo "zubcli completion: options, values, --set keys and videos"
