#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
build_dir=${ORVANTA_BUILD_DIR:-build}
out_dir=${ORVANTA_OUT_DIR:-$PWD/run-output}
mkdir -p "$out_dir"
cd "$out_dir"
"$OLDPWD/$build_dir/tools/orvanta-demo"
