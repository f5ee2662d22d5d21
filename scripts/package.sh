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
#          --sign CERT.pfx  sign tq73panel.exe and tq73.exe in both zips (Authenticode,
#                       osslsigncode), in the zips' staging folder: the trees keep theirs
#          --pass-file FILE  the certificate's password (without it: none)
#          --timestamp URL  the RFC 3161 time stamp server (e.g. http://timestamp.digicert.com);
#                       without one the signature ends with the certificate
# TQ_BUILD: the folder that holds the three trees (default build/; with --no-build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
trees=${TQ_BUILD:-$top/build}
build=1
out=$top/dist
sign='' pass_file='' timestamp=''
while (($#)); do
    case $1 in
        --no-build) build=0 ;;
        --out) out=${2:?--out needs a folder}; shift ;;
        --sign) sign=${2:?--sign needs a .pfx file}; shift ;;
        --pass-file) pass_file=${2:?--pass-file needs a file}; shift ;;
        --timestamp) timestamp=${2:?--timestamp needs a URL}; shift ;;
        -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

if ((build)); then
    "$top/scripts/setup-deps.sh"
    "$top/scripts/build.sh"
fi
if [[ -n $sign ]]; then
    [[ -r $sign ]] || { echo "package.sh: cannot read the certificate $sign" >&2; exit 2; }
    [[ -z $pass_file || -r $pass_file ]] || { echo "package.sh: cannot read $pass_file" >&2; exit 2; }
    command -v osslsigncode >/dev/null || { echo "package.sh: --sign needs osslsigncode (scripts/setup-deps.sh)" >&2; exit 1; }
    [[ -n $timestamp ]] || echo "package.sh: signing without --timestamp: the signatures end with the certificate" >&2
    # Read by packaging/sign_exes.cmake, which CPack runs before each zip is made.
    export TQ_SIGN_PFX TQ_SIGN_PASS_FILE TQ_SIGN_TIMESTAMP
    TQ_SIGN_PFX=$(realpath "$sign") TQ_SIGN_PASS_FILE=${pass_file:+$(realpath "$pass_file")} TQ_SIGN_TIMESTAMP=$timestamp
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
