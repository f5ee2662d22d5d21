#!/usr/bin/env bash
# Builds everything into build/: win64 and win32 (tq73panel.exe, tq73.exe),
# native (tq73, simulator, tests, benchmark). With --sanitizers also build/tsan
# and build/asan (ASan with UBSan) for the integration and simulator tests, and
# build/fuzz (clang, libFuzzer). Each tree is a preset of CMakePresets.json,
# which says its toolchain, build type and options. Incremental; safe to run
# again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc 2>/dev/null || echo 2)

# A tree is configured when it has no cache yet, or again when the presets
# changed since (a new option, another compiler); a change to a CMakeLists.txt
# needs no more than the build, which configures again by itself.
configure() {  # preset
    local dir=build/$1 presets
    presets=$(cksum <CMakePresets.json)
    if [ ! -f "$dir/CMakeCache.txt" ] || [ "$(cat "$dir.configure.presets" 2>/dev/null)" != "$presets" ]; then
        cmake --preset "$1" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
        printf '%s' "$presets" >"$dir.configure.presets"
    fi
}

build() {  # preset
    cmake --build --preset "$1" -j"$jobs" 2>&1 | grep -vE '^\[|^-- |Scanning|Consolidate|Built target' || true
    test "${PIPESTATUS[0]}" -eq 0
}

trees=(win64 win32 native)
if [ "${1:-}" = "--sanitizers" ]; then
    trees+=(tsan asan fuzz)
fi
mkdir -p build
for tree in "${trees[@]}"; do
    configure "$tree"
    build "$tree"
done
