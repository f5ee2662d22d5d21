#!/usr/bin/env bash
# smoke.sh FUZZER CORPUS SECONDS: runs FUZZER for SECONDS on a copy of the
# seed corpus (the committed seeds never grow here) and fails on any crash,
# leak, time-out or sanitizer report. Every seed runs first, so the seeds are
# also a regression set.
set -uo pipefail
fuzzer=$1 corpus=$2 seconds=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/tq-fuzz-smoke.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp -r "$corpus"/. "$work/corpus/" 2>/dev/null
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1
rc=$?
grep -E '^#[0-9]+ +DONE|stat::number_of_executed_units|ERROR:|runtime error|==fuzz==' "$work/log"
found=$(find "$work/artifacts" -type f | wc -l)
if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "smoke: $(basename "$fuzzer") failed (exit $rc, $found artifacts); its log ends:"
    tail -n 40 "$work/log"
    exit 1
fi
