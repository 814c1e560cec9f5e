#!/usr/bin/env bash
# The Windows build: installs the MinGW-w64 cross compiler, wine and the
# GoogleTest sources when missing, configures build-win/ (or
# $ORVANTA_WIN_BUILD_DIR) for x86_64-w64-mingw32, builds orvanta.exe,
# orvanta-run.exe, quorvin-sim.exe and the Windows test suites, and packs
# orvanta-<version>-win64.zip. With --test it then runs the suites under
# wine through ctest (the end-to-end run, the mixed case and the window's run
# on Xvfb included; the mixed case wants the native build in build/ or
# $ORVANTA_BUILD_DIR and is skipped without it).
#
# The window needs Qt 6 for Windows, which is built into its cache folder
# first when it is not there (scripts/qt-windows.sh; once, about 20 minutes).
# --no-window (or ORVANTA_WIN_WINDOW=0) leaves the window out: the console
# programs only, without Qt. --deps installs what the build needs and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run_tests=0
deps_only=0
window=${ORVANTA_WIN_WINDOW:-1}
for arg in "$@"; do
  case $arg in
    --test) run_tests=1 ;;
    --window) window=1 ;;
    --no-window) window=0 ;;
    --deps) deps_only=1 ;;
    *) echo "usage: scripts/windows.sh [--test] [--no-window] [--deps]" >&2; exit 64 ;;
  esac
done

packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64 googletest)
gui_options=(-DORVANTA_BUILD_GUI=OFF)
if [ "$window" = 1 ]; then
  # Xvfb, xdotool, xwd and netpbm: the window's run under wine and its
  # screenshot; fonts-wine: wine's own Tahoma and the rest of the fonts
  # Windows has, without which the window's text comes out as symbols.
  packages+=(xvfb xauth xdotool x11-apps netpbm fonts-wine)
fi
bash scripts/deps.sh "${packages[@]}"
[ "$deps_only" = 0 ] || exit 0
if [ "$window" = 1 ]; then
  bash scripts/qt-windows.sh
  qt_prefix=$(bash scripts/qt-windows.sh --prefix)
  gui_options=(-DORVANTA_BUILD_GUI=ON -DORVANTA_REQUIRE_GUI=ON -DORVANTA_TARGET_PREFIXES="$qt_prefix"
               -DCMAKE_PREFIX_PATH="$qt_prefix" -DQT_HOST_PATH=/usr
               -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
fi

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
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${gui_options[@]}" -DORVANTA_BUILD_BENCH=OFF \
  -DORVANTA_NATIVE_RUNNER="$native_runner" -DORVANTA_NATIVE_SIM="$native_sim" >/dev/null
cmake --build "$build_dir" -j "${ORVANTA_JOBS:-$(nproc)}"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
echo "windows: package: $(ls "$build_dir"/orvanta-*-win64.zip)"

if [ "$run_tests" = 1 ]; then
  [ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  # Debian's wine64 does not find the fonts of fonts-wine by itself (Tahoma,
  # the face behind Windows' "MS Shell Dlg"), and the window would be drawn
  # in whatever the host has (math fonts, as it happens). In the prefix's
  # Fonts folder they are Windows' own.
  # Windows' monospaced face, Courier New, which the message log asks for,
  # is not among them: wine stands DejaVu Sans Mono in for it (or Qt would
  # fall back to the first family that claims Latin, TeX's math fonts on a
  # machine with matplotlib).
  if [ "$window" = 1 ] && [ -d /usr/share/wine/fonts ]; then
    ln -sf /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Courier New" \
      /d "DejaVu Sans Mono" /f >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w  # the registry written out before tests copy the prefix
  fi
  ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
fi
