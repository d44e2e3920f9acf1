#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra-cli's bash completion, with bash-completion loaded and without it:
# each row a command line, the cursor at its end, and words the completion
# must offer (+WORD) or must not (-WORD).
# Usage: completion_test.sh PATH/TO/kovra-cli [COMPLETION-SCRIPT]
# shellcheck disable=SC1091 # the sourced files are checked on their own
set -u
cli=${1:?usage: $0 PATH/TO/kovra-cli}
here=$(cd "$(dirname "$0")" && pwd)
script=${2:-$here/../../packaging/linux/kovra-cli.bash}
list=$here/../../data/samlist.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
touch "$tmp/by:path.hex"

rows=(
  "commands|| +load +save-hex +chips +ports +download +program +read-hex +offline-master +job +db +report +--help +--version"
  "program options|program --| +--steps +--json +--progress +--port +--chip +--chips +--record +--count +--serial +--serial-journal +--job ---fill-zero"
  "job's check|job | +check"
  "chips of --chips|program x.hex --chips $list --chip KV8| +KV86C08 +KV88C0A +KV86M04 -KV86C99 -NOSELEC"
  "chips of --chips=, any case|program x.hex --chips=$list --chip kv86c| +KV86C08 -KV88C0A"
  "chips of the default list|program x.hex --chip | +KV86C08 +KV88M16 -NOSELEC -KV86C99"
  "the last step|program x.hex --steps blank,pro| +blank,program -program"
  "a step named once|program x.hex --steps=verify,blank,| +verify,blank,erase -verify,blank,blank"
  "ports|read-hex out.hex --port | +auto"
  "a path with a colon|load $tmp/by:path.h| +path.hex"
  "save-hex addresses|save-hex x.hex | -auto"
  "report's options and encodings|report x.csv --serial-encoding | +bcd +dec +le -auto"
)

# The words of a line as bash splits them: ':' and '=' are words of their own.
split_line() {
  local word rest
  COMP_WORDS=()
  for word in $1; do
    while [[ $word == *[:=]* ]]; do
      rest=${word%%[:=]*}
      [[ $rest ]] && COMP_WORDS+=("$rest")
      COMP_WORDS+=("${word:${#rest}:1}")
      word=${word:${#rest}+1}
    done
    [[ $word ]] && COMP_WORDS+=("$word")
  done
  [[ $1 == *' ' || -z $1 ]] && COMP_WORDS+=("")
}

run_rows() {
  local row name line expect failed=0
  for row in "${rows[@]}"; do
    IFS='|' read -r name line expect <<<"$row"
    set -f
    split_line "$cli $line"
    set +f
    COMP_WORDS[0]=$cli
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$cli $line"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _kovra_cli "$cli" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got=" ${COMPREPLY[*]} " want
    for want in $expect; do
      if [[ $want == +* && $got != *" ${want#+} "* || $want == -* && $got == *" ${want#-} "* ]]; then
        echo "FAIL ($1) $name: $want; offered:$got" >&2
        failed=1
      fi
    done
  done
  return $failed
}

status=0
(
  source /usr/share/bash-completion/bash_completion
  source "$script"
  run_rows bash-completion
) || status=1
(
  source "$script"
  run_rows alone
) || status=1
exit $status
