#!/usr/bin/env bash
# Builds the test suite with a sanitizer and runs it:
#   bash scripts/sanitize.sh asan   # AddressSanitizer + UndefinedBehaviorSanitizer,
#                                   # the whole suite, window tests included
#   bash scripts/sanitize.sh tsan   # ThreadSanitizer, the suite without the window
# The presets are in CMakePresets.json (build-asan/, build-tsan/). Further
# arguments go to ctest (for example -R Client). Any sanitizer report fails
# its test. ORVANTA_WERROR=ON makes the project's warnings errors, as under CI.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: sanitize.sh asan|tsan [ctest arguments]}
shift
case $preset in asan|tsan) ;; *) echo "sanitize.sh: unknown preset $preset" >&2; exit 64 ;; esac
bash scripts/deps.sh
cmake --preset "$preset" -DORVANTA_WERROR="${ORVANTA_WERROR:-OFF}" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" "$@"
