#!/usr/bin/env bash
# Checks a man page against its program:
#   check_man_page.sh PAGE.1.in [PROGRAM]
# The page must render without warnings from man. With PROGRAM, the options
# the page lists (the tags of its .TP items that start with a dash) must be
# exactly the options `PROGRAM --help` lists (the lines "  --name ..." and
# "  -x, --name ..."); each difference is reported on its own line, saying
# which side lacks the option.
set -euo pipefail
page=$1
program=${2-}
name=$(basename "$page" .1.in)
[ -z "$program" ] || name=$(basename "$program")
status=0

warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || {
  echo "$name: man could not render $page" >&2
  status=1
}
if [ -n "$warnings" ]; then
  echo "$name: man warns about $page:" >&2
  echo "$warnings" >&2
  status=1
fi

if [ -n "$program" ]; then
  # The line after each ".TP": drop the macro name, font changes and quotes,
  # turn \- into -, and keep the words that start with a dash.
  page_options=$(awk 'tag { print; tag = 0 } /^\.TP/ { tag = 1 }' "$page" |
    sed -E 's/^\.[A-Z]+ ?//; s/\\f[BIRP]//g; s/\\-/-/g; s/[",]/ /g' |
    tr -s ' ' '\n' | grep -E '^--?[A-Za-z][A-Za-z0-9-]*$' | sort -u || true)
  help_text=$("$program" --help)
  help_options=$(sed -n -E 's/^ {1,6}((-[A-Za-z], )?--[A-Za-z0-9][A-Za-z0-9-]*).*/\1/p' \
    <<<"$help_text" | sed 's/, /\n/' | sort -u)
  if [ -z "$help_options" ]; then
    echo "$name: found no options in '$name --help'" >&2
    exit 1
  fi
  while read -r option; do
    [ -n "$option" ] || continue
    echo "$name: option $option is listed by '$name --help' but missing from the man page $page" >&2
    status=1
  done < <(comm -23 <(echo "$help_options") <(echo "$page_options"))
  while read -r option; do
    [ -n "$option" ] || continue
    echo "$name: option $option is in the man page $page but not in '$name --help'" >&2
    status=1
  done < <(comm -13 <(echo "$help_options") <(echo "$page_options"))
fi
[ "$status" -eq 0 ] && echo "$name: man page matches"
exit "$status"
