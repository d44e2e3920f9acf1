# SPDX-License-Identifier: MIT
# bash completion for kovra-cli(1)

# Appends to COMPREPLY each line of standard input that starts with $1.
# No compgen -W: it would expand a $ or a backquote in a name.
_kovra_cli_add()
{
  local line
  while IFS= read -r line; do
    [[ $line == "$1"* ]] && COMPREPLY+=("$line")
  done
}

_kovra_cli_files()
{
  if declare -F _filedir >/dev/null; then
    _filedir
  else
    compopt -o filenames 2>/dev/null
    mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$cur")
  fi
}

# A word as the shell will pass it, for the simple quoting a path gets;
# never eval: the line is not run yet.
_kovra_cli_unquote()
{
  local word=$1
  case $word in
    \'*) word=${word#\'} word=${word%\'} ;;
    \"*) word=${word#\"} word=${word%\"} ;;
    *) word=${word//\\/} ;;
  esac
  [[ $word == \~/* ]] && word=$HOME/${word#\~/}
  printf '%s' "$word"
}

# The chips the window lists, as this same kovra-cli reads the list: row 0
# is left out, it stands for no chip.
_kovra_cli_chips()
{
  local key row name rest
  "$1" chips ${2:+"$2"} 2>/dev/null | while read -r key row name rest; do
    [[ $key == row && $row != 0: ]] && printf '%s\n' "$name"
  done
}

_kovra_cli_ports()
{
  local key port
  "$1" ports 2>/dev/null | while read -r key port; do
    [[ $key == port: ]] && printf '%s\n' "$port"
  done
  echo auto
}

# Without bash-completion: the words as bash split them, joined again
# where it broke them at ':' or '='.
_kovra_cli_words()
{
  local i word joined=false
  words=()
  for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
    word=${COMP_WORDS[i]}
    if ((i > 0)) && [[ $word == [:=] || $joined == true ]]; then
      words[${#words[@]} - 1]+=$word
    else
      words+=("$word")
    fi
    [[ $word == [:=] ]] && joined=true || joined=false
    ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
  done
  cur=${words[cword]-}
  prev=${words[cword - 1]-}
  if [[ $cur == --*=* ]]; then
    prev=${cur%%=*}
    cur=${cur#*=}
  fi
}

_kovra_cli()
{
  # split: set by _init_completion -s.
  # shellcheck disable=SC2034
  local cur prev words cword split
  if declare -F _init_completion >/dev/null; then
    _init_completion -s -n : || return
  else
    COMPREPLY=()
    _kovra_cli_words
  fi
  local cli
  cli=$(_kovra_cli_unquote "$1")

  if ((cword == 1)); then
    _kovra_cli_add "$cur" < <(printf '%s\n' load save-hex chips ports download \
      program read-hex offline-master job db report --help --version)
    return
  fi

  local options command=${words[1]}
  case $command in
    load) options="--fill-zero --dump" ;;
    save-hex | chips | ports) options= ;;
    download) options="--port --chips --chip --expect-checksum --json" ;;
    program) options="--port --chip --chips --steps --expect-checksum --record --count --json --progress
      --serial --serial-list --serial-journal --serial-block --station --journal --job" ;;
    db)
      # db init takes a connection, which no list holds.
      ((cword == 2)) && _kovra_cli_add "$cur" < <(printf '%s\n' init --help)
      return
      ;;
    job)
      if ((cword == 2)); then
        _kovra_cli_add "$cur" < <(printf '%s\n' check --help)
      else
        _kovra_cli_files
      fi
      return
      ;;
    read-hex) options="--port --start --end --json" ;;
    offline-master) options="--port --chip --chips --expect-checksum --json" ;;
    report) options="--from --to --station --floor-seconds --serial-encoding -o --output" ;;
    *) return ;;
  esac

  local i list=
  case $prev in
    --chips | --record | --dump | --serial-journal | --journal | --job | -o | --output)
      _kovra_cli_files
      ;;
    --chip)
      for ((i = 2; i < ${#words[@]}; i++)); do
        ((i == cword)) && continue
        [[ ${words[i]} == --chips ]] && list=${words[i + 1]-}
        [[ ${words[i]} == --chips=* ]] && list=${words[i]#--chips=}
      done
      [[ $list ]] && list=$(_kovra_cli_unquote "$list")
      # Names are upper case; --chip takes any case.
      _kovra_cli_add "${cur^^}" < <(_kovra_cli_chips "$cli" "$list")
      ;;
    --steps)
      local named=${cur%"${cur##*,}"}
      _kovra_cli_add "${cur##*,}" < <(for i in blank erase program verify smart ldc \
        read-protect write-protect; do
        [[ ,$named == *,$i,* ]] || printf '%s\n' "$i"
      done)
      COMPREPLY=("${COMPREPLY[@]/#/"$named"}")
      ;;
    --port)
      _kovra_cli_add "$cur" < <(_kovra_cli_ports "$cli")
      # A pseudo-terminal or a tty by its path.
      [[ $cur == [/.~]* ]] && _kovra_cli_files
      ;;
    --serial-encoding)
      _kovra_cli_add "$cur" < <(printf '%s\n' le be bcd dec hex)
      ;;
    --expect-checksum | --start | --end | --count | --serial | --serial-list | --from | --to | --station | \
      --floor-seconds | --serial-block) ;;
    *)
      # Which positional argument this is: options and their values
      # do not count.
      local n=0
      for ((i = 2; i < cword; i++)); do
        case ${words[i]} in
          --dump | --port | --chips | --chip | --expect-checksum | --steps | --record | \
            --count | --start | --end | --serial | --serial-list | --serial-journal | --job | \
            --from | --to | --station | --floor-seconds | --serial-encoding | -o | --output | --journal | \
            --serial-block) ((i++)) ;;
          -*) ;;
          *) ((n++)) ;;
        esac
      done
      local file=false
      case $command:$n in
        save-hex:0 | save-hex:3 | chips:0 | load:0 | download:0 | program:0 | \
          read-hex:0 | offline-master:0 | report:*) file=true ;;
        save-hex:[12]) return ;;
      esac
      if [[ $cur == -* || $file == false ]]; then
        # shellcheck disable=SC2086 # the options, one word each
        _kovra_cli_add "$cur" < <(printf '%s\n' $options --help)
      else
        _kovra_cli_files
      fi
      ;;
  esac

  # Readline replaces only what follows the last ':' of the word.
  if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
    local colon_word=${cur%"${cur##*:}"}
    COMPREPLY=("${COMPREPLY[@]#"$colon_word"}")
  fi
} &&
  complete -F _kovra_cli kovra-cli
