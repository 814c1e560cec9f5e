# Bash completion for orvanta-run and quorvin-sim; installed once under each
# name. The options and the kind of value each takes are read from the
# program's own --help, so the completion follows the program: an option's
# value named PATH completes file names, DIR folder names, a value like
# "HZ|max" or "fixed|relative" offers its lower-case words, and orvanta-run's
# setup file arguments complete *.cfg files and folders.

# Prints "--name VALUE" (or "--name" alone) for each option in $1's --help:
# the lines "  --name VALUE  text" and "  -h, --help  text" (a value follows
# the name after a single blank, and is written in capitals or as choices
# with "|": in "  --strict-timing exit with ..." the text begins at once).
_orvanta_tools_options() {
  "$1" --help 2>/dev/null |
    sed -n -E 's/^ {1,6}(-[A-Za-z], )?(--[A-Za-z0-9][A-Za-z0-9-]*)( ([A-Z][^ ]*|[^ |]*\|[^ ]*))?.*/\2 \4/p'
}

# Completes $cur as a file name; with $1, only files ending in .$1 (and
# folders); with -d, only folders.
_orvanta_tools_files() {
  if declare -F _filedir >/dev/null; then
    _filedir "$@"
    return
  fi
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  if [[ ${1-} == -d ]]; then
    COMPREPLY=($(compgen -d -- "$cur"))
  elif [[ -n ${1-} ]]; then
    COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X "!*.$1" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}

_orvanta_tools() {
  local cur prev words cword split=false
  if declare -F _init_completion >/dev/null; then
    _init_completion -s || return
  else
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
    # "--log=fi" arrives as "--log" "=" "fi" where '=' breaks words.
    if [[ $cur == = ]]; then
      cur=
      split=true
    elif [[ $prev == = ]] && ((cword >= 2)); then
      prev=${COMP_WORDS[COMP_CWORD - 2]}
      split=true
    elif [[ $cur == --*=* ]]; then
      prev=${cur%%=*}
      cur=${cur#*=}
      split=true
    fi
  fi

  local program=${words[0]} options value_of_prev="" line
  options=$(_orvanta_tools_options "$program")
  # The value the previous word asks for, if it is an option that takes one.
  while read -r line; do
    if [[ ${line%% *} == "$prev" && $line == *" "* ]]; then
      value_of_prev=${line#* }
    fi
  done <<<"$options"

  if [[ -n $value_of_prev && ($split == true || $cur != -*) ]]; then
    case $value_of_prev in
      PATH) _orvanta_tools_files ;;
      DIR) _orvanta_tools_files -d ;;
      ADDR) COMPREPLY=($(compgen -W "127.0.0.1 0.0.0.0" -- "$cur")) ;;
      *"|"*)
        local choice choices=()
        for choice in ${value_of_prev//|/ }; do
          [[ $choice == *[a-z]* ]] && choices+=("$choice")
        done
        COMPREPLY=($(compgen -W "${choices[*]}" -- "$cur"))
        ;;
      *) COMPREPLY=() ;;
    esac
    return
  fi

  # After "--" every word is a setup file.
  local i options_ended=false
  for ((i = 1; i < cword; i++)); do
    [[ ${words[i]} == -- ]] && options_ended=true
  done

  if [[ $cur == -* && $options_ended == false ]]; then
    local names
    names=$(sed 's/ .*//' <<<"$options")
    COMPREPLY=($(compgen -W "$names" -- "$cur"))
  elif [[ ${program##*/} == orvanta-run ]]; then
    _orvanta_tools_files cfg
  fi
}
complete -F _orvanta_tools orvanta-run quorvin-sim
