#!/usr/bin/env bash
# End-to-end runs of the Windows programs under wine, started by ctest:
#
#   wine_end_to_end.sh run     WINE RUNNER.exe SIM.exe EXAMPLES
#       orvanta-run.exe runs the example protocol against quorvin-sim.exe.
#   wine_end_to_end.sh stop    WINE RUNNER.exe SIM.exe EXAMPLES
#       Ctrl+C (wine turns SIGINT into the console's CTRL_C_EVENT) stops
#       orvanta-run.exe mid-run: exit status 3, "the run was stopped at trial".
#   wine_end_to_end.sh mixed   WINE RUNNER.exe SIM.exe EXAMPLES RUNNER SIM
#       The same seeded run three ways, native runner against native
#       simulator, native runner against quorvin-sim.exe, orvanta-run.exe
#       against the native simulator: the simulator's transcript of the
#       commands and replies must be the same in all three (ports aside).
#       Exits 77 (skipped) without the native programs.
set -euo pipefail
mode=$1 wine=$2 win_runner=$3 win_sim=$4 examples=$5
native_runner=${6:-} native_sim=${7:-}
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -INT "$sim_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "wine_end_to_end: $*" >&2; exit 1; }

# start_sim DIR PROGRAM...: starts a simulator in DIR; sets sim_pid, neg, msg.
start_sim() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && exec "$@" --negotiation-port 0 --message-port 0 --port-file ports.txt \
    --transcript transcript.tsv --quiet >sim.out 2>&1) &
  sim_pid=$!
  for _ in $(seq 300); do
    [ -s "$dir/ports.txt" ] && break
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$dir/sim.out")"
    sleep 0.1
  done
  [ -s "$dir/ports.txt" ] || fail "the simulator did not open its ports within 30 s"
  local ports
  ports=$(cat "$dir/ports.txt")
  neg=${ports#*negotiation=}
  neg=${neg%% *}
  msg=${ports#*message=}
}

stop_sim() {
  kill -INT "$sim_pid"
  for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$sim_pid" 2>/dev/null && fail "the simulator did not stop on Ctrl+C"
  wait "$sim_pid" || true
  sim_pid=
}

# The commands and replies of a transcript, the ports handed out replaced.
commands() {
  awk -F'\t' '$4 == "cmd" {
      text = $5; reply = $6
      if (text ~ /^-CreateStream /) sub(/ [0-9]+ /, " PORT ", text)
      if (text == "-GetNextAvailablePortNumber") reply = "0 PORT"
      print text "\t" reply
    }' "$1"
}

# run_pair NAME RUNNER... -- SIM...: one seeded run; leaves $work/NAME.
run_pair() {
  local name=$1
  shift
  local runner=() sim=()
  while [ "$1" != -- ]; do runner+=("$1"); shift; done
  shift
  sim=("$@")
  start_sim "$work/$name" "${sim[@]}"
  local status=0
  (cd "$work/$name" && timeout 180 "${runner[@]}" --server 127.0.0.1 --negotiation-port "$neg" \
    --message-port "$msg" --seed 7 --shuffle --quiet --log run-log.txt "$examples/protocol.cfg" \
    >runner.out 2>&1) || status=$?
  stop_sim
  [ "$status" -eq 0 ] || fail "$name: orvanta-run ended with $status: $(cat "$work/$name/runner.out")"
  commands "$work/$name/transcript.tsv" >"$work/$name.commands"
  [ "$(wc -l <"$work/$name.commands")" -gt 50 ] || fail "$name: too few commands in the transcript"
}

case $mode in
  run)
    run_pair windows "$wine" "$win_runner" -- "$wine" "$win_sim"
    # Under wine the timing may well fall outside the tolerance: the run
    # must complete, with its record, whatever its timing verdict.
    verdict=$(grep '^orvanta-run: verdict: ' "$work/windows/runner.out" | tr -d '\r')
    case $verdict in
      "orvanta-run: verdict: completed" | \
        "orvanta-run: verdict: completed with timing outside tolerance") ;;
      *) fail "the run did not complete: $(cat "$work/windows/runner.out")" ;;
    esac
    ls "$work"/windows/OrvantaSessions/*/report.html >/dev/null || fail "no session record"
    grep -q '"outcome": *"completed"' "$work"/windows/OrvantaSessions/*/session.json ||
      fail "the session record does not say completed"
    ;;
  stop)
    start_sim "$work/stop" "$wine" "$win_sim"
    (cd "$work/stop" && exec "$wine" "$win_runner" --server 127.0.0.1 --negotiation-port "$neg" \
      --message-port "$msg" --quiet --log run-log.txt "$examples/protocol.cfg" >runner.out 2>&1) &
    runner_pid=$!
    for _ in $(seq 300); do
      grep -q 'Start Trial #1' "$work/stop/run-log.txt" 2>/dev/null && break
      sleep 0.1
    done
    grep -q 'Start Trial #1' "$work/stop/run-log.txt" || fail "the run did not start"
    kill -INT "$runner_pid"
    status=0
    timeout 30 tail --pid="$runner_pid" -f /dev/null || fail "orvanta-run did not stop on Ctrl+C"
    wait "$runner_pid" || status=$?
    [ "$status" -eq 3 ] || fail "exit status $status, not 3: $(cat "$work/stop/runner.out")"
    grep -q '^orvanta-run: the run was stopped at trial [0-9]* of 9' "$work/stop/runner.out" ||
      fail "no stop message: $(cat "$work/stop/runner.out")"
    grep -q 'Trial Processing: Trials Completed Successfully' "$work/stop/runner.out" &&
      fail "the run went to its end"
    stop_sim
    ;;
  mixed)
    [ -x "$native_runner" ] && [ -x "$native_sim" ] || { echo "no native build: skipped"; exit 77; }
    run_pair native "$native_runner" -- "$native_sim"
    run_pair mixed_sim "$native_runner" -- "$wine" "$win_sim"
    run_pair mixed_runner "$wine" "$win_runner" -- "$native_sim"
    diff "$work/native.commands" "$work/mixed_sim.commands" ||
      fail "quorvin-sim.exe answered differently from the native simulator"
    diff "$work/native.commands" "$work/mixed_runner.commands" ||
      fail "orvanta-run.exe sent other commands than the native runner"
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
echo "wine_end_to_end $mode: passed"
