#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang, with the address and
# undefined-behaviour sanitizers) into build-fuzz/ and runs each for a bounded
# time, starting from its committed corpus:
#   bash scripts/fuzz.sh              # 60 s per target
#   bash scripts/fuzz.sh 600          # 10 minutes per target
#   bash scripts/fuzz.sh 60 replies   # one target
# The targets run $(nproc) at a time (or $ORVANTA_FUZZ_JOBS), each with its
# own output folder and log; their results are reported once all are done,
# in the order of the target list.
# A crash, a leak, a time-out (25 s per input) or running out of memory
# (2 GB) fails the script; the input that did it is left in
# build-fuzz/output/<target>/ (or $ORVANTA_FUZZ_OUT/<target>/). Keep it as a regression
# input under fuzz/regressions/<target>/ once the fault is fixed: the
# normal test suite replays those (tests/fuzz/fuzz_regression_test).
# New inputs found along the way stay in the output folder's corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(setup_file replies stream_records session_record)
jobs=${ORVANTA_FUZZ_JOBS:-$(nproc)}
[ "$jobs" -ge 1 ] 2>/dev/null || jobs=1

bash scripts/deps.sh
build_dir=${ORVANTA_FUZZ_BUILD_DIR:-build-fuzz}
cmake -S fuzz -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
ninja -C "$build_dir" -j "$(nproc)" $(printf 'fuzz_%s ' "${targets[@]}")

out_root=${ORVANTA_FUZZ_OUT:-$root/$build_dir/output}

# The fuzzers run in the background, at most $jobs at once; each one's exit
# status is kept by target once it ends (wait -n -p: bash 5.1 or later).
declare -A pid_target=() target_status=()
reap() {
  local pid=
  local status=0
  wait -n -p pid || status=$?
  target_status[${pid_target[$pid]}]=$status
  unset "pid_target[$pid]"
}
# An interrupted script takes its fuzzers with it.
trap 'trap - INT TERM; [ ${#pid_target[@]} -eq 0 ] || kill "${!pid_target[@]}" 2>/dev/null; exit 130' \
  INT TERM
echo "fuzz: ${targets[*]} for ${seconds} s each, $jobs at a time"
for target in "${targets[@]}"; do
  out=$out_root/$target
  mkdir -p "$out/corpus"
  while [ ${#pid_target[@]} -ge "$jobs" ]; do reap; done
  (cd "$out" && exec "$root/$build_dir/fuzz_$target" -max_total_time="$seconds" -timeout=25 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/" \
      "$out/corpus" "$root/fuzz/corpus/$target" >"$out/fuzz.log" 2>&1) &
  pid_target[$!]=$target
done
while [ ${#pid_target[@]} -gt 0 ]; do reap; done
trap - INT TERM

failed=()
for target in "${targets[@]}"; do
  out=$out_root/$target
  status=${target_status[$target]}
  echo "fuzz: $target for ${seconds} s"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$out/fuzz.log" | sed 's/^/  /' || true
  if [ "$status" != 0 ]; then
    echo "fuzz: $target FAILED (status $status); see $out/fuzz.log:" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$out/fuzz.log" | head -20 >&2 || true
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no faults found"
