#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any named as arguments,
# when any is missing. Idempotent and quiet; needs root (or sudo) only when
# something is missing.
set -euo pipefail

# clang with its runtime libraries (libclang-rt-14-dev: the sanitizers and
# libFuzzer) and llvm-14 (llvm-symbolizer, for readable sanitizer reports).
# man-db and desktop-file-utils check the man pages and the desktop entry.
# xvfb, libxcb1-dev and qt6-qpa-plugins: the window test under a real X server
# (a window manager's close request). The python3 packages build and test the
# Python module for Debian's own python3.
packages=(build-essential cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev
          libbenchmark-dev qt6-base-dev libgl-dev clang libclang-rt-14-dev llvm-14 xdg-utils
          man-db desktop-file-utils xvfb libxcb1-dev qt6-qpa-plugins python3-dev
          python3-pybind11 python3-numpy python3-pandas python3-pytest python3-matplotlib "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
