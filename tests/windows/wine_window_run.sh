#!/usr/bin/env bash
# orvanta.exe under wine on Xvfb, driven through its keyboard as a user
# would, started by ctest:
#
#   wine_window_run.sh WINE ORVANTA.exe ORVANTA-RUN.exe EXAMPLES SIM.exe SCREENSHOT.png
#
# The window starts in a fresh folder, opens examples\protocol.cfg through
# File > Open Configuration File (Ctrl+O) in the native file dialog,
# connects with Vintra > Connect To Server to its default server, this
# computer's name, where quorvin-sim.exe listens on the default ports, runs
# the order with Run > Start at Trial... (trial 1) and shows the completion
# box, of which a screenshot is saved. Then the session record's setup.cfg
# (the same setup and order) goes through orvanta-run.exe against a second
# simulator: the two transcripts must hold the same commands and replies,
# stream ports aside.
#
# The window has no port field, so the simulator takes the default ports;
# the test runs in a network namespace of its own (unshare -n) so that those
# ports are private to it. Exits 77 (skipped) without Xvfb, xdotool, xwd,
# netpbm or a way to a private network. With `env` for WINE the script
# rehearses the same steps with the Linux programs.
set -euo pipefail
wine=$1 orvanta=$2 runner=$3 examples=$4 sim=$5 screenshot=$6

if [ -z "${ORVANTA_WINDOW_RUN_NETNS:-}" ]; then
  for tool in Xvfb xdotool xwd xwdtopnm pnmtopng unshare; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: skipped"; exit 77; }
  done
  unshare -n true 2>/dev/null || { echo "no private network namespace (unshare -n): skipped"; exit 77; }
  ORVANTA_WINDOW_RUN_NETNS=1 exec unshare -n bash "$0" "$@"
fi
ip link set lo up 2>/dev/null || true
# The real window: Qt's Windows platform, whatever the suites run on.
unset QT_QPA_PLATFORM

fail() { echo "wine_window_run: $*" >&2; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  WINEPREFIX=$work/wine timeout 20 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A wine prefix of its own: its wineserver must live in this network
# namespace. A copy of the build's prefix spares the first start's 10 s.
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
  cp -a "$WINEPREFIX" "$work/wine"
fi
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true

# The screen, on a display number of the server's choosing.
exec 3< <(Xvfb -displayfd 1 -screen 0 1366x768x24 -nolisten tcp 2>"$work/xvfb.log")
xvfb_pid=$!
pids+=("$xvfb_pid")
read -r -t 30 display <&3 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$display

# start_sim DIR PORT-OPTIONS...: quorvin-sim.exe in DIR; sets sim_pid.
start_sim() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && exec "$wine" "$sim" "$@" --port-file ports.txt --transcript transcript.tsv \
    --quiet >sim.out 2>&1) &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 300); do
    [ -s "$dir/ports.txt" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || fail "the simulator did not start: $(cat "$dir/sim.out")"
    sleep 0.1
  done
  fail "the simulator did not open its ports within 30 s"
}
stop_sim() {
  kill -INT "$sim_pid"
  for _ in $(seq 100); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$sim_pid" 2>/dev/null && fail "the simulator did not stop on Ctrl+C"
  wait "$sim_pid" || true
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

# wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.2 s.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  for _ in $(seq $((seconds * 5))); do
    "$@" >/dev/null 2>&1 && return 0
    kill -0 "$app_pid" 2>/dev/null || fail "orvanta.exe ended while waiting for $what"
    sleep 0.2
  done
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"${screenshot%.png}-failed.png" || true
  fail "no $what within $seconds s (screen: ${screenshot%.png}-failed.png; log:
$(tail -5 "$work/app/OrvantaLogFile.txt" 2>/dev/null))"
}
window() { xdotool search --onlyvisible --name "$1"; }
logged() { grep -qF -e "$1" "$work/app/OrvantaLogFile.txt"; }
completed() { grep -qs '"outcome": *"completed"' "$work"/app/OrvantaSessions/*/session.json; }
# key KEYS...: to the window that has wine's focus.
key() {
  xdotool key --clearmodifiers --delay 80 "$@"
  sleep 0.5
}

start_sim "$work/sim" --negotiation-port 26200 --message-port 26100
mkdir -p "$work/app"
cp -r "$examples" "$work/app/examples"
(cd "$work/app" && exec "$wine" "$orvanta" >app.out 2>&1) &
app_pid=$!
pids+=("$app_pid")

wait_for 60 "main window" window "^Orvanta - Disconnected From Server$"
main=$(window "^Orvanta - Disconnected From Server$" | head -1)
xdotool windowfocus "$main" 2>/dev/null || true
sleep 1

# File > Open Configuration File: the native dialog, the path typed in.
key ctrl+o
wait_for 30 "file dialog" window "^Process Configuration File$"
dialog=$(window "^Process Configuration File$" | head -1)
xdotool windowfocus "$dialog" 2>/dev/null || true
sleep 2
if [ "$wine" = env ]; then
  xdotool type --delay 20 "$work/app/examples/protocol.cfg"
else
  xdotool type --delay 20 "Z:${work//\//\\}\\app\\examples\\protocol.cfg"
fi
key Return
wait_for 30 "loaded setup" logged "ConfigFileProcessor::ProcessScript() - Finished Processing"

# Vintra > Connect To Server (this computer's name), then Run > Start at Trial...
xdotool windowfocus "$main" 2>/dev/null || true
key alt+v Return
wait_for 30 "connection" window "^Orvanta - Connected"
key alt+r Return
wait_for 20 "Start at Trial dialog" window "^Start at Trial$"
key Return
wait_for 120 "completion box" window "^Trial Processing$"
wait_for 10 "completed session record" completed
sleep 3  # the box painted
xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$screenshot" || fail "no screenshot"
echo "wine_window_run: screenshot $screenshot"
key Return
xdotool windowfocus "$main" 2>/dev/null || true
key ctrl+q
for _ in $(seq 150); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$app_pid" 2>/dev/null && fail "orvanta.exe did not end on File > Exit"
wait "$app_pid" || fail "orvanta.exe ended with status $?: $(cat "$work/app/app.out")"
stop_sim

record=$(ls -d "$work"/app/OrvantaSessions/*/ | head -1)
[ -n "$record" ] || fail "no session record"
grep -q '"outcome": *"completed"' "$record/session.json" || fail "the record does not say completed"
grep -q 'OrvantaDlg::OnConnectToServer.*' "$work/app/OrvantaLogFile.txt" || true

# The same setup and order through orvanta-run.exe.
start_sim "$work/sim2" --negotiation-port 0 --message-port 0
ports=$(cat "$work/sim2/ports.txt")
neg=${ports#*negotiation=}
neg=${neg%% *}
msg=${ports#*message=}
(cd "$work/sim2" && timeout 180 "$wine" "$runner" --server 127.0.0.1 --negotiation-port "$neg" \
  --message-port "$msg" --quiet --no-record --log run-log.txt "$record/setup.cfg" \
  >runner.out 2>&1) || fail "orvanta-run.exe failed: $(cat "$work/sim2/runner.out")"
stop_sim

commands "$work/sim/transcript.tsv" >"$work/window.commands"
commands "$work/sim2/transcript.tsv" >"$work/runner.commands"
[ "$(wc -l <"$work/window.commands")" -gt 50 ] || fail "too few commands from the window"
diff "$work/runner.commands" "$work/window.commands" >"$work/diff.txt" ||
  fail "the window's commands differ from orvanta-run's: $(head -20 "$work/diff.txt")"
echo "wine_window_run: $(wc -l <"$work/window.commands") commands, the same as orvanta-run's"
