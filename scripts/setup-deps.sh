#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Wine run need,
# only those that are missing. Safe to run again.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev python3
    mingw-w64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
    wine64 xvfb x11-utils fonts-vlgothic imagemagick
)
# The fuzz targets (scripts/fuzz.sh, the fuzz smoke of scripts/test.sh):
# clang with libFuzzer and the sanitizer runtimes.
packages+=(clang-14 libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
