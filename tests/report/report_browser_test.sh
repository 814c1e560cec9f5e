#!/usr/bin/env bash
# Renders a fresh session report with headless Chromium and checks the
# screenshot: not blank, and the timeline plot is there.
#   report_browser_test.sh ORVANTA_RUN QUORVIN_SIM PNG_CHECK
set -euo pipefail
runner=$1 sim=$2 check=$3

skip() { echo "SKIP: $*"; exit 77; }

find_browser() {
  for name in chromium chromium-browser; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
  done
  return 1
}
browser=$(find_browser || true)
if [ -z "$browser" ]; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "report_browser_test: installing chromium with apt-get"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends chromium \
      >/dev/null 2>&1 || {
      apt-get update >/dev/null 2>&1 || true
      DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends chromium \
        >/dev/null 2>&1 || true
    }
  fi
  browser=$(find_browser || true)
fi
[ -n "$browser" ] || skip "headless Chromium is not installed and cannot be installed here (needs root and apt-get)"
command -v python3 >/dev/null 2>&1 || skip "python3 is needed to read the screenshot"

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --negotiation-port 0 --message-port 0 --port-file "$work/ports" --quiet \
  >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/ports" ] && break
  sleep 0.1
done
[ -s "$work/ports" ] || { echo "the simulator did not start"; cat "$work/sim.out"; exit 1; }
ports=$(cat "$work/ports")
negotiation=${ports#*negotiation=}; negotiation=${negotiation%% *}
message=${ports#*message=}

cat >"$work/plot.cfg" <<'SETUP'
-AddTrial "Tone"
-SetTrialCount "Tone" 3
-SetTrialDuration "Tone" 30
-SetInterTrialInterval "Tone" 20
-SetStartOfTrialGenerateEvent "Tone" true
-SetStartOfTrialGenerateTTLPulse "Tone" true
-SetStartOfTrialTTLPulseDuration "Tone" 10
-AddTrial "Light"
-SetTrialCount "Light" 3
-SetTrialDuration "Light" 30
-SetInterTrialInterval "Light" 20
-SetEndOfTrialGenerateEvent "Light" true
SETUP
(cd "$work" && "$runner" --server 127.0.0.1 --negotiation-port "$negotiation" \
  --message-port "$message" --quiet --record recs plot.cfg) >"$work/run.out" 2>&1 || {
  echo "orvanta-run failed:"; cat "$work/run.out"; exit 1; }
report=$(ls "$work"/recs/*/report.html)

mkdir "$work/profile"
timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --hide-scrollbars --force-device-scale-factor=1 --user-data-dir="$work/profile" \
  --screenshot="$work/shot.png" --window-size=1100,800 "file://$report" \
  >"$work/browser.out" 2>&1 || true
[ -s "$work/shot.png" ] || { echo "the browser wrote no screenshot:"; tail -20 "$work/browser.out"; exit 1; }
python3 "$check" "$work/shot.png"
