#!/usr/bin/env bash
# The layer check on a small made-up tree: clean at first, then each kind of
# wrong include is reported with its file, line, include and rule.
#   check_layers_test.sh CHECK_LAYERS_SH
set -u
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
status=0

put() { mkdir -p "$(dirname "$tree/$1")" && printf '%s\n' "${@:2}" >"$tree/$1"; }
expect() {  # expect EXIT_STATUS TEXT...: runs the check, wants its status and each text
  local out rc
  out=$(bash "$check" "$tree" 2>&1); rc=$?
  [[ $rc == "$1" ]] || { echo "wanted exit status $1, got $rc:"$'\n'"$out"; status=1; }
  for text in "${@:2}"; do
    grep -qF -- "$text" <<<"$out" || { echo "missing: $text"$'\n'"$out"; status=1; }
  done
}

put platform/mutex.h '#include <mutex>' '#include "platform/thread_annotations.h"'
put trials/trial.cpp '#include "trials/trial.h"' '#include "log/log_file.h"' '#include "local.h"'
put tools/quorvin-sim/main.cpp '#include "client/frame_codec.h"' '#include "tools/quorvin-sim/x.h"'
put app/main.cpp '#include <QApplication>' '#include "core/program_core.h"'
put tests/any_test.cpp '#include "app/orvanta_dlg.h"'
put build/gen.cpp '#include "app/orvanta_dlg.h"'
put bench/bench_env.h '#include "tools/quorvin-sim/sim_server.h"' '#include "core/program_core.h"'
put script/runner.cpp '// #include "app/orvanta_dlg.h" was here' ' * #include "core/program_core.h"'
expect 0 "every include keeps to its layer"

# Without an argument the check reads the tree it lies in.
mkdir -p "$tree/scripts" && cp "$check" "$tree/scripts/"
out=$(cd / && bash "$tree/scripts/$(basename "$check")" 2>&1) ||
  { echo "the check of its own tree failed:"$'\n'"$out"; status=1; }

put trials/trial.cpp '#include "trials/trial.h"' '  #  include "script/command_processor.h"'
put log/log_file.cpp '#include <QString>'
put client/frame_io.cpp '#include "../log/log_file.h"'
put tools/quorvin-sim/main.cpp '#include "client/vintra_client.h"'
put extras/thing.cpp '#include "platform/mutex.h"'
put client/socket_layer_win.cpp '#include <winsock2.h>' '#include "trials/trial.h"'
put log/log_line.cpp '#include "platformer/clock.h"'
put bench/run_bench.cpp '#include "tools/orvanta-run/runner_run.h"'
put tools/newtool/main.cpp '#include "platform/mutex.h"'
expect 1 \
  'trials/trial.cpp:2: includes "script/command_processor.h", which runs up or across the layers (trials/ may include its own headers and platform/ log/)' \
  'log/log_file.cpp:1: includes <QString>, but Qt belongs to app/ alone' \
  'client/frame_io.cpp:1: includes "../log/log_file.h" by a relative path' \
  'tools/quorvin-sim/main.cpp:1: includes "client/vintra_client.h"' \
  'extras/thing.cpp: the folder extras/ has no row in the layer table' \
  'client/socket_layer_win.cpp:2: includes "trials/trial.h"' \
  'log/log_line.cpp:1: includes "platformer/clock.h"' \
  'bench/run_bench.cpp:1: includes "tools/orvanta-run/runner_run.h"' \
  'tools/newtool/main.cpp: the folder tools/newtool/ has no row in the layer table' \
  '9 place(s) break the layers'
exit $status
