#!/usr/bin/env bash
# Checks that every C++ source in the repository is formatted as
# .clang-format says (clang-format --dry-run -Werror); lists the files that
# are not. `clang-format -i FILE` formats one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang-format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || { echo "format-check: no sources found (not a git checkout?)" >&2; exit 1; }
if ! out=$(clang-format --dry-run -Werror "${files[@]}" 2>&1); then
  echo "format-check: not formatted as .clang-format says:" >&2
  grep -oE '^[^:]+\.(cpp|h):' <<<"$out" | sort -u | sed 's/:$//; s/^/  /' >&2
  exit 1
fi
echo "format-check: ${#files[@]} files formatted"
