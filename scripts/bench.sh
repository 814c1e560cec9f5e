#!/usr/bin/env bash
# Runs the benchmarks and writes their report:
#   bash scripts/bench.sh          # all seven, into build/bench-report.md
#   bash scripts/bench.sh shuffle  # the ones whose name holds a word
# Each benchmark prints its figures beside a baseline measured in the same
# run, with their ratio and whether the goal was met. Run it on a quiet
# machine: the figures are timings. The report goes to
# $ORVANTA_BENCH_REPORT (default: bench-report.md in the build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
build_dir=${ORVANTA_BUILD_DIR:-build}
report=${ORVANTA_BENCH_REPORT:-$build_dir/bench-report.md}

benches=(exchange_bench run_timing_bench stream_bench trigger_bench shuffle_bench memory_bench python_bench)
if [ $# -gt 0 ]; then
  chosen=()
  for b in "${benches[@]}"; do
    for word in "$@"; do [[ $b == *"$word"* ]] && chosen+=("$b") && break; done
  done
  benches=("${chosen[@]}")
fi

{
  echo "# Orvanta benchmark report"
  echo
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- Commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(uname -sr)"
  echo "- Load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo
  echo "Each figure is given beside its baseline, measured in the same run on the same"
  echo "machine; the ratio is figure / baseline."
  echo
} >"$report"

status=0
for b in "${benches[@]}"; do
  echo "== $b"
  if [ "$b" = python_bench ]; then
    # The Python module's, for Debian's python3, against the programs of this build.
    if [ ! -d "$build_dir/python/orvanta" ]; then
      echo "bench.sh: the Python module is not built; $b skipped"
      continue
    fi
    PYTHONPATH="$build_dir/python" /usr/bin/python3 bench/python_bench.py \
      --sim "$build_dir/tools/quorvin-sim/quorvin-sim" \
      --runner "$build_dir/tools/orvanta-run/orvanta-run" --report "$report" ||
      { echo "bench.sh: $b failed" >&2; status=1; }
    continue
  fi
  "$build_dir/bench/$b" --report="$report" || { echo "bench.sh: $b failed" >&2; status=1; }
done
echo
echo "bench.sh: report written to $report"
exit $status
