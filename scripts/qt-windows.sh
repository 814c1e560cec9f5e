#!/usr/bin/env bash
# Qt 6 for Windows (x86_64-w64-mingw32, static), built from Debian's own
# qt6-base source, for the Windows build of the window (scripts/windows.sh).
#
# Debian ships no Qt for MinGW, but its qt6-base source of the host's Qt
# version cross-builds with the project's MinGW toolchain file and the host's
# Qt tools (moc, rcc, uic). The source tarball keeps the bundled pcre2, zlib,
# libpng, libjpeg, freetype and harfbuzz, so nothing else is needed for the
# target.
#
# The result is installed into a cache folder keyed by the Qt version and the
# options,
#   ${XDG_CACHE_HOME:-$HOME/.cache}/orvanta/qt-<version>-mingw64-static
# (or $ORVANTA_QT_WIN_PREFIX), and reused when it is there and was built with
# the same options. The source comes through `apt-get source` with a private
# source list, state and cache, so the machine's apt configuration is left as
# it is; the tarballs are checked against the .dsc before they are unpacked.
#
# Takes about 20 minutes of two idle cores (far longer on a busy machine: it
# runs at the lowest CPU priority) and about 3 GB of disk on the way; the
# install is about 100 MB. An interrupted build is taken up again where it
# stopped by the next run with the same key.
#
#   scripts/qt-windows.sh            build when missing, print the prefix last
#   scripts/qt-windows.sh --prefix   print the prefix only (builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

qt_version=6.4.2
suite=bookworm
mirror=${ORVANTA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security_mirror=${ORVANTA_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
jobs=${ORVANTA_QT_WIN_JOBS:-2}

prefix=${ORVANTA_QT_WIN_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/orvanta/qt-$qt_version-mingw64-static}

# The configuration of the target Qt: static, optimised for size (-Os, which
# also compiles faster than -O3), without what the window does not use. The three pairs at the end must be set
# together in this Qt version or the build breaks: Debian's tarball drops the
# tablet header, dynamic GL needs OpenGL, and DirectWrite 3 needs Direct2D.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DFEATURE_optimize_size=ON
  -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DFEATURE_testlib=ON
  -DFEATURE_icu=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_opengl=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_dynamicgl=OFF
  -DFEATURE_direct2d=OFF
  -DFEATURE_directwrite3=OFF
)
# The key of a build: the Qt version, the cross compiler's version, the
# toolchain file (its compiler options) and the options. The install and a build under way each keep theirs.
stamp=$prefix/orvanta-qt-options.txt
stamp_text() {
  echo "qt-$qt_version x86_64-w64-mingw32 gcc-$(x86_64-w64-mingw32-g++-posix -dumpfullversion)"
  echo "toolchain $(sha256sum <"$root/cmake/mingw-w64-x86_64.cmake" | cut -d' ' -f1)"
  printf '%s\n' "${options[@]}"
}

case ${1:-} in
  --prefix) echo "$prefix"; exit 0 ;;
  "") ;;
  *) echo "usage: scripts/qt-windows.sh [--prefix]" >&2; exit 64 ;;
esac

cached() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(stamp_text)" ]; }

mkdir -p "$(dirname "$prefix")"
# One build at a time per cache folder: a second caller waits and reuses it.
exec 9>"$prefix.lock"
flock 9

if cached; then
  echo "qt-windows: reusing $prefix"
  echo "$prefix"
  exit 0
fi

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
case $host_version in
  "$qt_version"+*) ;;
  *) echo "qt-windows: the host's Qt tools must be Qt $qt_version (qt6-base-dev is" \
       "'${host_version:-not installed}'); run scripts/deps.sh" >&2; exit 1 ;;
esac
for tool in x86_64-w64-mingw32-g++-posix apt-get dpkg-source cmake ninja; do
  command -v "$tool" >/dev/null ||
    { echo "qt-windows: $tool is missing; run scripts/windows.sh (it installs it)" >&2; exit 1; }
done

work=$prefix.work

# fetch: qt6-base of the host's version, through a private source list,
# lists and package cache, into $work/src; every file the .dsc lists checked
# by its SHA-256 before it is unpacked.
fetch() {
  mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"
  {
    echo "deb-src [signed-by=$keyring] $mirror $suite main"
    echo "deb-src [signed-by=$keyring] $security_mirror $suite-security main"
  } >"$work/apt/sources.list"
  local apt_opts=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
                  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt"
                  -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o Debug::NoLocking=1
                  -o APT::Sandbox::User=root -q)
  echo "qt-windows: fetching qt6-base $host_version source from $mirror ($suite)"
  apt-get "${apt_opts[@]}" update >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; echo "qt-windows: apt-get update failed" >&2; exit 1; }
  (cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only "qt6-base=$host_version" \
     >>"$work/apt.log" 2>&1) ||
    { cat "$work/apt.log" >&2; echo "qt-windows: apt-get source failed" >&2; exit 1; }

  local dsc checked=0 sum _size name
  dsc=$(ls "$work"/src/qt6-base_*.dsc)
  while read -r sum _size name; do
    [ -n "$name" ] || continue
    echo "$sum  $work/src/$name" | sha256sum -c --quiet - ||
      { echo "qt-windows: $name does not match $(basename "$dsc")" >&2; exit 1; }
    checked=$((checked + 1))
  done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
  [ "$checked" -ge 2 ] || { echo "qt-windows: no checksums in $(basename "$dsc")" >&2; exit 1; }
  echo "qt-windows: $checked files match $(basename "$dsc")"
  dpkg-source -x "$dsc" "$work/src/qt6-base" >>"$work/apt.log" 2>&1 ||
    { tail -20 "$work/apt.log" >&2; echo "qt-windows: dpkg-source -x failed" >&2; exit 1; }
}

configure() {
  echo "qt-windows: configuring (log: $work/configure.log)"
  nice -n 19 cmake -S "$work/src/qt6-base" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${options[@]}" >"$work/configure.log" 2>&1 ||
    { tail -40 "$work/configure.log" >&2; echo "qt-windows: configure failed" >&2; exit 1; }
  stamp_text >"$work/options.txt"
}

started=$(date +%s)
rm -rf "$prefix"
if [ -f "$work/build/build.ninja" ] && [ "$(cat "$work/options.txt" 2>/dev/null)" = "$(stamp_text)" ]; then
  echo "qt-windows: taking up the build in $work where it stopped"
else
  rm -rf "$work"
  fetch
  configure
fi

# --- build, install -------------------------------------------------------------
echo "qt-windows: building with -j$jobs (log: $work/build.log)"
nice -n 19 cmake --build "$work/build" -j "$jobs" >>"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log" >&2; echo "qt-windows: build failed" >&2; exit 1; }
nice -n 19 cmake --install "$work/build" >"$work/install.log" 2>&1 ||
  { tail -40 "$work/install.log" >&2; echo "qt-windows: install failed" >&2; exit 1; }
stamp_text >"$stamp"
elapsed=$(($(date +%s) - started))
rm -rf "$work"
printf 'qt-windows: built Qt %s for Windows in %dm%02ds (this run; %s)\n' "$qt_version" \
  $((elapsed / 60)) $((elapsed % 60)) "$(du -sh "$prefix" | cut -f1)"
echo "$prefix"
