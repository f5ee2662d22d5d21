#!/usr/bin/env bash
# fuzz.sh [SECONDS] [options]: builds the libFuzzer targets (build/fuzz, clang
# with AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for
# SECONDS (default 60) on a copy of its seeds in tests/fuzz/corpus/<target>/;
# the committed seeds do not grow unless --merge is given. Prints per target
# the executions, the rate, the coverage (cov and ft of libFuzzer's last
# status line), the crash, leak, time-out and out-of-memory artifacts and the
# sanitizer reports; exits 1 when any target crashed or reported.
#
# Options:
#   --runs N      stop each target after N executions instead of after SECONDS
#   --only LIST   comma-separated targets (default: all; see --list)
#   --jobs J      run J targets at a time (default 1; the machine has 2 cores)
#   --merge       add the inputs that found new coverage to the committed seeds
#   --report      only print the table of the last runs in build/fuzz-runs/
#   --list        print the targets and exit
# Logs and artifacts stay in build/fuzz-runs/<target>/ for a post-mortem.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

targets=(image_loader receiver_level receiver_edge number_text command_line param_block sim_request)
seconds=60 runs='' only='' jobs=1 merge=0 report_only=0
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift ;;
        --only) only=$2; shift ;;
        --jobs) jobs=$2; shift ;;
        --merge) merge=1 ;;
        --report) report_only=1 ;;
        --list) printf '%s\n' "${targets[@]}"; exit 0 ;;
        -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        [0-9]*) seconds=$1 ;;
        *) echo "fuzz.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$only" ]; then
    IFS=, read -r -a targets <<<"$only"
fi

tree=build/fuzz
runs_dir=build/fuzz-runs

report() {  # prints the table; 1 when any target crashed, reported or failed
    local failed=0 t dir log execs rate cov crashes reports rc
    printf '%-16s %12s %9s %6s %7s %8s %8s\n' target execs exec/s cov ft crashes reports
    for t in "${targets[@]}"; do
        dir=$runs_dir/$t log=$runs_dir/$t/log
        if [ ! -f "$log" ]; then
            printf '%-16s %12s\n' "$t" "(no run)"
            continue
        fi
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
        cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
        crashes=$(find "$dir/artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
        reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|^==fuzz==' "$log")
        rc=$(cat "$dir/rc" 2>/dev/null || echo '?')
        printf '%-16s %12s %9s %6s %7s %8s %8s\n' "$t" "${execs:-?}" "${rate:-?}" \
            "$(awk '{print $2}' <<<"$cov")" "$(awk '{print $4}' <<<"$cov")" "$crashes" "$reports"
        if [ "$crashes" -ne 0 ] || [ "$reports" -ne 0 ] || [ "$rc" != 0 ]; then
            failed=1
            echo "  $t: exit $rc; log $log; artifacts in $dir/artifacts/"
        fi
    done
    return "$failed"
}
if [ "$report_only" = 1 ]; then
    report
    exit
fi

"$top/scripts/setup-deps.sh" || exit 1
mkdir -p build
if [ ! -f "$tree/CMakeCache.txt" ]; then
    cmake --preset fuzz >"$tree.configure.log" 2>&1 || { cat "$tree.configure.log"; exit 1; }
fi
cmake --build --preset fuzz -j2 >"$tree.build.log" 2>&1 || { grep -E 'error|Error' "$tree.build.log" | head -20; exit 1; }

# Input size limits where libFuzzer's default (4096, once the corpus grows)
# mostly buys slowness: a kilobyte of line holds two full-size frames and
# the bursts and gaps around them.
max_len_for() {
    case $1 in
        receiver_* | sim_request) echo 1024 ;;
        *) echo 4096 ;;
    esac
}
run_target() {  # target
    local t=$1 dir=$runs_dir/$1
    rm -rf "$dir"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp -r "tests/fuzz/corpus/$t/." "$dir/corpus/"
    local limit=(-max_total_time="$seconds")
    [ -n "$runs" ] && limit=(-runs="$runs")
    "$tree/fuzz_$t" "${limit[@]}" -max_len="$(max_len_for "$t")" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1
    echo $? >"$dir/rc"
    if [ "$merge" = 1 ]; then
        "$tree/fuzz_$t" -merge=1 "tests/fuzz/corpus/$t" "$dir/corpus" >"$dir/merge.log" 2>&1
    fi
}

# Runs the targets, at most $jobs at a time.
running=0
for t in "${targets[@]}"; do
    [ -x "$tree/fuzz_$t" ] || { echo "fuzz.sh: no target $t (see --list)" >&2; exit 2; }
    echo "fuzz.sh: $t ..." >&2
    run_target "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

report
