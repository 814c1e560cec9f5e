#!/usr/bin/env bash
# Configures and builds the project into build/ (or $ORVANTA_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${ORVANTA_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_REQUIRE_GUI=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
