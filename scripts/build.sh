#!/usr/bin/env bash
# Configures and builds the project into build/ (or $ORVANTA_BUILD_DIR).
# ORVANTA_WERROR=ON makes the project's warnings errors (scripts/test.sh sets
# it under CI).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${ORVANTA_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_REQUIRE_GUI=ON \
  -DORVANTA_WERROR="${ORVANTA_WERROR:-OFF}" "$@" >/dev/null
# ORVANTA_BUILD_TARGETS: only these targets (and what they need), e.g. the
# main job's programs; by default everything, tests and benchmarks included.
targets=()
for target in ${ORVANTA_BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build_dir" -j "$(nproc)" "${targets[@]}"
