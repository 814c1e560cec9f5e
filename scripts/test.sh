#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs ctest. Then,
# unless ORVANTA_TEST_QUICK=1, the stages that CI runs as well: clang-tidy
# over the product sources (scripts/tidy.sh; the tests too when run by hand
# without arguments, which CI leaves out for time), the Debian package built,
# installed, tried and purged again on this machine
# (scripts/install-test.sh; skipped without root or sudo), the Windows
# cross build with its suites under wine (scripts/windows.sh), the suite under
# AddressSanitizer + UndefinedBehaviorSanitizer (window tests included), under
# ThreadSanitizer (without the window), and each libFuzzer target for
# ORVANTA_FUZZ_SECONDS (60) seconds. Every stage runs even when
# an earlier one failed; the script fails if any did. Under CI (CI=true) the
# project's compiler warnings are errors, in the normal and the sanitizer
# builds (ORVANTA_WERROR=ON; set it to OFF to build with warnings anyway).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${CI:-}" = true ]; then
  export ORVANTA_WERROR=${ORVANTA_WERROR:-ON}
fi
bash scripts/deps.sh
bash scripts/build.sh
build_dir=${ORVANTA_BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen

failed=()
stage() {
  local name=$1
  shift
  local start=$SECONDS
  echo "== $name"
  if "$@"; then
    echo "== $name: passed ($((SECONDS - start)) s)"
  else
    echo "== $name: FAILED ($((SECONDS - start)) s)" >&2
    failed+=("$name")
  fi
}

stage "tests" ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
if [ "${ORVANTA_TEST_QUICK:-0}" != 1 ]; then
  stage "tidy" bash scripts/tidy.sh app bench client core fuzz log platform record script tools trials
  stage "install" bash scripts/install-test.sh
  stage "windows" bash scripts/windows.sh --test
  stage "asan+ubsan" bash scripts/sanitize.sh asan
  stage "tsan" bash scripts/sanitize.sh tsan
  stage "fuzz" bash scripts/fuzz.sh "${ORVANTA_FUZZ_SECONDS:-60}"
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "test.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: all stages passed"
