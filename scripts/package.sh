#!/usr/bin/env bash
# Builds the packages into dist/ with CPack, from the trees that scripts/build.sh
# builds (it runs it first; incremental):
#   tq7300-console_VERSION_amd64.deb          from build/native
#   tq7300-console-VERSION-windows-x64.zip    from build/win64
#   tq7300-console-VERSION-windows-x86.zip    from build/win32
#   SHA256SUMS                                over the three
#
# Options: --no-build   use the trees as they are (the package tests do)
#          --out DIR    write the packages to DIR instead of dist/
# TQ_BUILD: the folder that holds the three trees (default build/; with --no-build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=${TQ_BUILD:-$top/build}
build=1
out=$top/dist
while (($#)); do
    case $1 in
        --no-build) build=0 ;;
        --out) out=${2:?--out needs a folder}; shift ;;
        -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if ((build)); then
    "$top/scripts/setup-deps.sh"
    "$top/scripts/build.sh"
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
# CPack stages under here; removed at the end, so that OUT holds only packages.
staging=$(mktemp -d "$out/.staging.XXXXXX")
trap 'rm -rf "$staging"' EXIT

made=()
pack() {  # tree, generator
    local tree=$trees/$1 generator=$2 log=$staging/$1.log file
    [[ -f $tree/CPackConfig.cmake ]] || { echo "package.sh: $tree is not built; run scripts/build.sh" >&2; exit 1; }
    if ! cpack -G "$generator" --config "$tree/CPackConfig.cmake" -B "$staging/$1" >"$log" 2>&1; then
        cat "$log" >&2
        echo "package.sh: cpack $generator in $tree failed" >&2
        exit 1
    fi
    for file in "$staging/$1"/*."${generator,,}"; do
        mv -f "$file" "$out/"
        made+=("$(basename "$file")")
        echo "$out/$(basename "$file")"
    done
}
pack native DEB
pack win64 ZIP
pack win32 ZIP
((${#made[@]} == 3)) || { echo "package.sh: expected 3 packages, made ${made[*]}" >&2; exit 1; }
(cd "$out" && sha256sum "${made[@]}" >SHA256SUMS)
echo "$out/SHA256SUMS"
