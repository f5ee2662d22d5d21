#!/usr/bin/env bash
# Lays out every C and C++ source and header that git tracks by the tree's
# .clang-format. With --check, changes nothing: lists the files that differ
# from that layout and exits 1 when there are any.
# CLANG_FORMAT names the program (default clang-format-14, else clang-format).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

check=0
case ${1:-} in
    --check) check=1 ;;
    '') ;;
    *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

tool=${CLANG_FORMAT:-}
if [ -z "$tool" ]; then
    tool=clang-format-14
    command -v "$tool" >/dev/null || tool=clang-format
fi
command -v "$tool" >/dev/null || { echo "format: no $tool (scripts/setup-deps.sh installs it)" >&2; exit 2; }

# Generated or foreign sources would go here; the tree tracks none (generated
# headers live under build/).
exclude='^$'
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | grep -Ev "$exclude")

if [ "$check" = 0 ]; then
    "$tool" -i --style=file "${files[@]}"
    exit 0
fi
differ=0
for f in "${files[@]}"; do
    if ! "$tool" --style=file "$f" | cmp -s - "$f"; then
        echo "$f"
        differ=$((differ + 1))
    fi
done
if [ "$differ" != 0 ]; then
    echo "format: $differ of ${#files[@]} files differ from .clang-format (scripts/format.sh lays them out)" >&2
    exit 1
fi
