#!/usr/bin/env bash
# Builds everything into build/: win64 and win32 (tq73panel.exe), native
# (simulator, tests, benchmark). With --sanitizers also build/tsan and
# build/asan (ASan with UBSan) for the integration and simulator tests, and
# build/fuzz (clang, libFuzzer). Incremental; safe to run again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

configure() {  # dir, extra cmake arguments...
    local dir=$1; shift
    # A tree configured with other arguments (an older sanitizer set, say) is
    # configured again.
    if [ ! -f "$dir/CMakeCache.txt" ] || [ "$(cat "$dir.configure.args" 2>/dev/null)" != "$*" ]; then
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 ||
            { cat "$dir.configure.log"; return 1; }
        printf '%s' "$*" >"$dir.configure.args"
    fi
}

build() {  # dir
    cmake --build "$1" -j"$jobs" 2>&1 | grep -vE '^\[|^-- |Scanning|Consolidate|Built target' || true
    test "${PIPESTATUS[0]}" -eq 0
}

mkdir -p build
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
build build/win64
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
build build/win32
configure build/native -DTQ_WIN64_DIR="$top/build/win64"
build build/native

if [ "${1:-}" = "--sanitizers" ]; then
    configure build/tsan -DTQ_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo
    build build/tsan
    configure build/asan -DTQ_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
    build build/asan
    # The libFuzzer targets and their smoke tests: clang, a tree of their own.
    CC=clang-14 CXX=clang++-14 configure build/fuzz -DTQ_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    build build/fuzz
fi
