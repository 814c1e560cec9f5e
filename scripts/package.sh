#!/usr/bin/env bash
# Builds the Debian package orvanta_VERSION_ARCH.deb: installs what is
# missing (also dpkg-dev and file, which CPack needs to compute the package's
# Depends), builds into build/ (or $ORVANTA_BUILD_DIR; an existing build is
# reused), and packs the installation with CPack into build/package/ (or
# $ORVANTA_PACKAGE_DIR). The last line printed is the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh dpkg-dev file
bash scripts/build.sh

build_dir=${ORVANTA_BUILD_DIR:-build}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac
out_dir=${ORVANTA_PACKAGE_DIR:-$build_dir/package}
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
rm -f "$out_dir"/orvanta_*.deb

if ! (cd "$build_dir" && cpack -G DEB -B "$out_dir" >"$out_dir/cpack.log" 2>&1); then
  cat "$out_dir/cpack.log" >&2
  echo "package: cpack failed" >&2
  exit 1
fi
packages=("$out_dir"/orvanta_*.deb)
if [ ! -f "${packages[0]}" ]; then
  cat "$out_dir/cpack.log" >&2
  echo "package: cpack made no orvanta_*.deb in $out_dir" >&2
  exit 1
fi
echo "${packages[0]}"
