#!/usr/bin/env bash
# The Windows build: installs the MinGW-w64 cross compiler, wine and the
# GoogleTest sources when missing, configures build-win/ (or
# $ORVANTA_WIN_BUILD_DIR) for x86_64-w64-mingw32, builds orvanta-run.exe,
# quorvin-sim.exe and the Windows test suites, and packs
# orvanta-<version>-win64.zip. With --test it then runs the suites under
# wine through ctest (the end-to-end run and the mixed case included; the
# mixed case wants the native build in build/ or $ORVANTA_BUILD_DIR and is
# skipped without it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run_tests=0
for arg in "$@"; do
  case $arg in
    --test) run_tests=1 ;;
    *) echo "usage: scripts/windows.sh [--test]" >&2; exit 64 ;;
  esac
done

bash scripts/deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev \
  wine64 googletest

build_dir=${ORVANTA_WIN_BUILD_DIR:-build-win}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac
native_dir=${ORVANTA_BUILD_DIR:-build}
case $native_dir in /*) ;; *) native_dir=$root/$native_dir ;; esac

# wine keeps its prefix (its C: drive and registry) in the build folder, so
# that the build leaves nothing in the home folder; its first start takes
# about 10 s.
export WINEPREFIX=$build_dir/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

native_runner=$native_dir/tools/orvanta-run/orvanta-run
native_sim=$native_dir/tools/quorvin-sim/quorvin-sim
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_BUILD_GUI=OFF -DORVANTA_BUILD_BENCH=OFF \
  -DORVANTA_NATIVE_RUNNER="$native_runner" -DORVANTA_NATIVE_SIM="$native_sim" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
echo "windows: package: $(ls "$build_dir"/orvanta-*-win64.zip)"

if [ "$run_tests" = 1 ]; then
  [ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
fi
