#!/usr/bin/env bash
# Checks that no include runs back up the layers (docs/architecture.md): the
# sources of each folder include their own headers and those of the folders
# listed for it below, nothing else, and only app/ includes Qt. The Windows
# twins (*_win.cpp) are read too, although no Linux build compiles them.
# tests/ may include anything and is not read.
#
# Usage: check_layers.sh [SOURCE_ROOT]   (default: the tree this script is in)
# Exit status 0 when every include keeps to its layer, 1 otherwise.
set -u
root=$(cd "${1:-$(dirname "$0")/..}" && pwd) || exit 1

# What each folder may include besides its own headers: folders, or single
# headers where a folder may take only one of them.
declare -A allowed=(
  [platform]=""
  [log]="platform"
  [client]="platform"
  [trials]="platform log"
  [record]="platform log trials"
  [script]="platform log trials"
  [trigger]="platform client trials"
  [core]="platform log client trials script trigger"
  [app]="platform log client trials record script trigger core"
  [tools/orvanta-run]="platform log client trials record script trigger core"
  [tools/demo]="platform log client trials script core"
  [tools/quorvin-sim]="platform client/frame_codec.h"
  [fuzz]="platform log client trials record script core"
  [bench]="platform log client trials record script trigger core tools/quorvin-sim"
  [python]="platform log client trials record script trigger core"
)

failures=0
fail() {
  echo "check_layers: $*" >&2
  failures=$((failures + 1))
}

while IFS= read -r file; do
  rel=${file#"$root"/}
  folder=${rel%%/*}
  if [[ $folder == tools ]]; then
    rest=${rel#tools/}
    folder=tools/${rest%%/*}
  fi
  if [[ ! -v allowed[$folder] ]]; then
    fail "$rel: the folder $folder/ has no row in the layer table of ${0##*/}"
    continue
  fi
  while IFS=: read -r line text; do
    [[ $text =~ include[[:space:]]*([\"\<])([^\">]+) ]] || continue
    header=${BASH_REMATCH[2]}
    if [[ ${BASH_REMATCH[1]} == '<' ]]; then
      if [[ $folder != app && $header =~ ^Q ]]; then
        fail "$rel:$line: includes <$header>, but Qt belongs to app/ alone"
      fi
      continue
    fi
    [[ $header == */* ]] || continue  # a header beside the file
    if [[ $header == ../* || $header == */../* ]]; then
      fail "$rel:$line: includes \"$header\" by a relative path; name it from the source root"
      continue
    fi
    ok=0
    for entry in $folder ${allowed[$folder]}; do
      if [[ $header == "$entry" || $header == "$entry"/* ]]; then ok=1; break; fi
    done
    if ((ok == 0)); then
      below=$(for entry in ${allowed[$folder]}; do [[ $entry == *.h ]] && echo "$entry" || echo "$entry/"; done)
      rule="$folder/ may include its own headers${below:+ and }"$(echo $below)
      fail "$rel:$line: includes \"$header\", which runs up or across the layers ($rule)"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file")
done < <(find "$root" -mindepth 1 \( -path "$root/tests" -o -path "$root/build*" -o -name '.*' \) \
           -prune -o -type f \( -name '*.h' -o -name '*.cpp' \) -print | sort)

if ((failures > 0)); then
  echo "check_layers: $failures place(s) break the layers" >&2
  exit 1
fi
echo "check_layers: every include keeps to its layer"
