#!/usr/bin/env bash
# Builds and runs every test layer: unit and integration tests natively, the
# integration and simulator tests again under ThreadSanitizer and under
# AddressSanitizer with UndefinedBehaviorSanitizer, a few seconds of each fuzz
# target, the end-to-end tests of tq73panel.exe under Wine, and the packages' tests;
# before all of them, whether the sources keep the layout of .clang-format.
# Installs what is missing first. Ends with one line: "N passed, N failed".
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/scripts/setup-deps.sh" || exit 1

passed=0
failed=0
# First, and before the long build: a source that strays from .clang-format
# counts as one failure, and the tests still run.
echo "== format"
if "$top/scripts/format.sh" --check; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi

"$top/scripts/build.sh" --sanitizers || exit 1

run_suite() {  # name, build dir
    local name=$1 dir=$2 log
    log=$(mktemp)
    echo "== $name"
    ctest --test-dir "$dir" --output-on-failure -j2 2>&1 | tee "$log"
    local summary
    summary=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    if [ -z "$summary" ]; then
        echo "$name: no test summary" >&2
        failed=$((failed + 1))
    else
        local f n
        f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
        n=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
        passed=$((passed + n - f))
        failed=$((failed + f))
    fi
    rm -f "$log"
}

run_suite "native: unit, integration, simulator, end to end under Wine" build/native
run_suite "integration under ThreadSanitizer" build/tsan
run_suite "integration under AddressSanitizer and UndefinedBehaviorSanitizer" build/asan
run_suite "fuzz smoke" build/fuzz

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
