#!/usr/bin/env bash
# The main job: installs what is missing, builds, then rehearses the example
# protocol headless: starts the acquisition-server simulator on free ports,
# runs examples/protocol.cfg (or the setup file given as the argument, such
# as examples/closed_loop.cfg) against it with orvanta-run, and stops the
# simulator again. A setup's "# quorvin-sim: OPTIONS" comment lines give the
# simulator options it needs (the records a closed-loop setup waits for).
# The log, the timeline, the simulator's transcript and the run's session
# record (with its report) are left in run-output/ (or $ORVANTA_OUT_DIR).
#
# Usage: main-job.sh [SETUP_FILE]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh
# Only what the job runs (and the window, to have the program whole): the
# tests and benchmarks are built by scripts/test.sh.
ORVANTA_BUILD_TARGETS="orvanta-run quorvin-sim orvanta" bash scripts/build.sh

build_dir=${ORVANTA_BUILD_DIR:-build}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac
out_dir=${ORVANTA_OUT_DIR:-$root/run-output}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)

sim=$build_dir/tools/quorvin-sim/quorvin-sim
runner=$build_dir/tools/orvanta-run/orvanta-run
protocol=${1:-$root/examples/protocol.cfg}
case $protocol in /*) ;; *) protocol=$root/$protocol ;; esac
if [ ! -f "$protocol" ]; then
  echo "main-job: no such setup file: $protocol" >&2
  exit 2
fi
# The simulator options the setup asks for, word by word.
sim_options=()
while IFS= read -r line; do
  read -r -a words <<<"${line#*quorvin-sim:}"
  sim_options+=("${words[@]}")
done < <(grep -E '^#[[:space:]]*quorvin-sim:' "$protocol" || true)
port_file=$out_dir/quorvin-sim.ports
transcript=$out_dir/quorvin-sim-transcript.tsv
log_file=$out_dir/OrvantaLogFile.txt
timeline=$out_dir/timeline.csv
client_log=$out_dir/VintraClientLog.txt
records=$out_dir/OrvantaSessions
rm -f "$port_file"

# The simulator picks two free ports and writes them to the port file once
# it listens.
"$sim" --negotiation-port 0 --message-port 0 --port-file "$port_file" \
  --transcript "$transcript" --quiet "${sim_options[@]}" >"$out_dir/quorvin-sim.out" 2>&1 &
sim_pid=$!
stop_sim() {
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

for _ in $(seq 100); do
  [ -s "$port_file" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "main-job: the simulator did not start:" >&2
    cat "$out_dir/quorvin-sim.out" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "$port_file" ]; then
  echo "main-job: the simulator did not open its ports within 10 s" >&2
  exit 1
fi
ports=$(cat "$port_file")  # quorvin-sim listening negotiation=PORT message=PORT
negotiation_port=${ports#*negotiation=}
negotiation_port=${negotiation_port%% *}
message_port=${ports#*message=}
echo "main-job: $ports"
echo "main-job: running $protocol"

# The log's entries scroll by on stdout as the run goes; on a terminal a
# progress line sits below them.
status=0
(cd "$out_dir" && "$runner" --server 127.0.0.1 --negotiation-port "$negotiation_port" \
  --message-port "$message_port" --shuffle --print-order --log "$log_file" \
  --timeline "$timeline" --client-log "$client_log" --record "$records" "$protocol") || status=$?

stop_sim
trap - EXIT

echo
if [ "$status" -eq 0 ]; then
  echo "main-job: the run completed"
else
  echo "main-job: orvanta-run ended with status $status" >&2
fi
echo "main-job: application log:       $log_file"
echo "main-job: timeline:              $timeline"
echo "main-job: simulator transcript:  $transcript"
echo "main-job: client log:            $client_log"
# The record this run wrote: the newest folder in the records folder.
record=$(ls -1td "$records"/*/ 2>/dev/null | head -n 1 || true)
record=${record%/}
if [ -n "$record" ]; then
  echo "main-job: session record:      $record"
  if [ -f "$record/report.html" ]; then
    echo "main-job: session report:      $record/report.html"
  else
    echo "main-job: session report:      (not written; orvanta-run --report $record rebuilds it)"
  fi
fi
exit "$status"
