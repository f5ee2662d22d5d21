#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Wine run need,
# only those that are missing. Safe to run again.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev python3
    mingw-w64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
    wine64 xvfb xauth fonts-vlgothic imagemagick
)
# Wine's own bitmap Fixedsys (vgafix.fon) for the screen_scales scenario; a package
# that libwine only recommends.
packages+=(fonts-wine)
# The format check of scripts/test.sh (scripts/format.sh --check).
packages+=(clang-format-14)
# The fuzz targets (scripts/fuzz.sh, the fuzz smoke of scripts/test.sh):
# clang with libFuzzer and the sanitizer runtimes.
packages+=(clang-14 libclang-rt-14-dev)
# The packages (scripts/package.sh) and their tests (ctest -L package): dpkg-shlibdeps
# for the .deb's Depends, lintian, unzip, man and groff for the pages, file for the
# stripped binaries (CPack makes the zips itself; the completion needs no package).
packages+=(dpkg-dev lintian unzip man-db groff-base file)
# scripts/package.sh --sign and its test: osslsigncode signs and verifies, openssl makes
# the test's throwaway certificate.
packages+=(osslsigncode openssl)
# The capture test (tests/package/capture_test.sh): tshark reads tq73's pcapng
# with the Lua dissector.
packages+=(tshark)

# ---- 32-bit Wine -----------------------------------------------------------
# wine32:i386 (Debian's i386 multiarch) lets the 64-bit prefix run
# build/win32/tq73panel.exe. Tried on an amd64 dpkg only; TQ_NO_WINE32=1 skips
# it. A failure is reported, not fatal: the 32-bit scenarios then skip. When
# the install fails, an i386 architecture added here is removed again, so that
# later apt-get runs do not trip over package lists that cannot be had.
setup_wine32() {
    [ "${TQ_NO_WINE32:-0}" = 1 ] && return 0
    [ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ] || return 0
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" && return 0
    local sudo='' added=''
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 && added=1
    fi
    echo "setup: installing wine32:i386" >&2
    if DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine32:i386 >/dev/null; then
        return 0
    fi
    echo "setup: wine32:i386 could not be installed; the 32-bit scenarios will skip" >&2
    if [ -n "$added" ] && [ -z "$(dpkg-query -W -f='${Package}:${Architecture}\n' 2>/dev/null | grep ':i386$')" ]; then
        $sudo dpkg --remove-architecture i386 && $sudo apt-get update -qq || true
    fi
    return 0
}
setup_wine32
# ---- end of 32-bit Wine -----------------------------------------------------

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
# wireshark-common asks whether users other than root may capture; nothing
# here captures from an interface, so the answer is no.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
