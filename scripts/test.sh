#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs ctest. Then,
# unless ORVANTA_TEST_QUICK=1, the stages that CI runs as well: the format
# check (scripts/format-check.sh), clang-tidy
# over the product sources (scripts/tidy.sh; the tests too when run by hand
# without arguments, which CI leaves out for time), the Debian package built,
# installed, tried and purged again on this machine
# (scripts/install-test.sh; skipped without root or sudo), the suite under
# AddressSanitizer + UndefinedBehaviorSanitizer (window tests included), under
# ThreadSanitizer (without the window), each libFuzzer target for
# ORVANTA_FUZZ_SECONDS (60) seconds, and last the Windows cross build, the
# window included, with its suites under wine (scripts/windows.sh).
#
# Qt for Windows, which the last stage needs, takes about 40 minutes of CPU
# when its cache folder is empty. It is built from the start in the
# background at idle priority (SCHED_IDLE), so that it takes only what the
# other stages leave unused (their tests wait on sockets and clocks more
# than they compute) and slows none of them; the Windows stage takes it up
# where it stands. Its output: $build_dir/qt-windows.log. Every stage runs even when
# an earlier one failed; the script fails if any did. Under CI (CI=true) the
# project's compiler warnings are errors, in the normal and the sanitizer
# builds (ORVANTA_WERROR=ON; set it to OFF to build with warnings anyway).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${CI:-}" = true ]; then
  export ORVANTA_WERROR=${ORVANTA_WERROR:-ON}
fi
bash scripts/deps.sh
build_dir=${ORVANTA_BUILD_DIR:-build}
qt_pid=
if [ "${ORVANTA_TEST_QUICK:-0}" != 1 ] && [ "${ORVANTA_WIN_WINDOW:-1}" != 0 ]; then
  bash scripts/windows.sh --deps
  mkdir -p "$build_dir"
  # A process group of its own (set -m), to be ended as one, but the same
  # session: a new session (setsid) gets a scheduling group of its own
  # (autogroup), which shares the CPU equally with this one whatever the
  # priority inside it.
  set -m
  chrt --idle 0 bash scripts/qt-windows.sh >"$build_dir/qt-windows.log" 2>&1 &
  qt_pid=$!
  set +m
  # The background build ends with the script, whatever ends it.
  trap '[ -z "$qt_pid" ] || kill -- -"$qt_pid" 2>/dev/null || true' EXIT
fi

bash scripts/build.sh
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

# The Windows stage: Qt for Windows from the background build when there is
# one (what it said is shown), then the cross build and its suites.
windows_stage() {
  if [ -n "$qt_pid" ]; then
    wait "$qt_pid" || echo "the background build of Qt for Windows failed; trying again"
    qt_pid=
    cat "$build_dir/qt-windows.log"
  fi
  bash scripts/windows.sh --test
}

stage "tests" ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
if [ "${ORVANTA_TEST_QUICK:-0}" != 1 ]; then
  stage "format" bash scripts/format-check.sh
  stage "tidy" bash scripts/tidy.sh app bench client core fuzz log platform record script tools trials
  stage "install" bash scripts/install-test.sh
  stage "asan+ubsan" bash scripts/sanitize.sh asan
  stage "tsan" bash scripts/sanitize.sh tsan
  stage "fuzz" bash scripts/fuzz.sh "${ORVANTA_FUZZ_SECONDS:-60}"
  stage "windows" windows_stage
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "test.sh: failed: ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: all stages passed"
