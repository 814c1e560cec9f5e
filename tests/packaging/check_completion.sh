#!/usr/bin/env bash
# The bash completion's reading of a program's --help:
#   check_completion.sh COMPLETION PROGRAM [--option VALUE|--option]...
# Each option named must be found with exactly that value (none when only
# the option is given); and every value found must be a placeholder
# (capitals, or choices with "|"), never the first word of a help text.
set -euo pipefail
completion=$1 program=$2
shift 2
# shellcheck source=/dev/null
source "$completion"
found=$(_orvanta_tools_options "$program")
[ -n "$found" ] || { echo "no options read from $program --help" >&2; exit 1; }
status=0
while [ $# -gt 0 ]; do
  name=$1 value=
  shift
  if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then value=$1; shift; fi
  line=$(grep -E "^$name( |$)" <<<"$found" || true)
  if [ "$line" != "$name $value" ]; then
    echo "$name: completion reads '${line:-nothing}', expected '$name $value'" >&2
    status=1
  fi
done
while read -r name value; do
  if [ -n "$value" ] && ! [[ $value =~ ^[A-Z] || $value == *"|"* ]]; then
    echo "$name: '$value' taken for a value" >&2
    status=1
  fi
done <<<"$found"
exit $status
