#!/usr/bin/env bash
# Runs the benchmark (not a test), against the simulator paced at 38400 baud.
#  1. The core, natively: one ap-stop, a full firmware update, a 128 KB flash write,
#     read and verify, and a full-image firmware verify, each as a ratio to the time the
#     line and the fixed pauses require (the goal: at most 1.03), beside the old model of
#     10 ms reply polls; the same rows with the posix platform's sleeps ending on
#     15.625 ms ticks (a Windows default timer); an update through a USB adapter's
#     latency timer of 16 ms and of 1 ms. About 5 min.
#  2. A station, natively: a full-image update --verify on 1, 2, 4 and 8 simulated units
#     at once, the wall time of N units over one's (the goal: at most 1.05) and the CPU
#     time of tq73 per unit. About 2 min.
#  3. The window, under Wine: an ap-stop (median of 20), "farm udt" of a full image
#     (median of 3) and a 128 KB flash read, with the window shown and minimized side by
#     side, beside line and pauses; then the console's CPU use while idle with the port
#     open; then tq73.exe's update of the same image (median of 3). All of it twice: on an
#     idle machine, and with
#     one core kept busy by a second program (a service laptop scanning or indexing).
#     About 8 min.
#  4. The marginal line (scripts/marginal_line.sh): tq73 against the simulator with bits
#     flipped at 1e-5, 1e-4 and 3e-4; 20 reads of 16 KiB, 10 full updates and 10 firmware
#     verifies per rate, each judged against the truth. About 10 min.
# Options: --native-only   skip the window rows (3)
#          --marginal-only only the marginal line
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh"
"$top/scripts/build.sh"

if [[ ${1:-} == --marginal-only ]]; then
    exec "$top/scripts/marginal_line.sh"
fi

native=$(mktemp)
full=$(mktemp --suffix=.mot)
trap 'rm -f "$native" "$full"' EXIT
"$top/build/native/tests/tq_bench" | tee "$native"
echo
python3 "$top/firmware/make_full_image.py" "$full"
python3 "$top/tests/bench/station_bench.py" "$top/build/native/tq73" "$top/build/native/tq7300-sim" "$full"
if [[ ${1:-} == --native-only ]]; then
    "$top/scripts/marginal_line.sh"
    exit 0
fi

# model ROW: what line and pauses need, from the native row that starts with ROW.
model() { grep -m1 "^$1" "$native" | sed -n 's/.*line+pauses *\([0-9.]*\) ms.*/\1/p'; }

row() {  # label, window_bench key, native row
    local shown minimized
    read -r _ shown minimized < <(grep "^$2 " <<<"$window")
    awk -v l="$1" -v s="$shown" -v m="$minimized" -v model="$(model "$3")" \
        'BEGIN { printf "%-22s %9.1f ms %9.1f ms %+7.1f%% %9.1f ms %6.3f %6.3f\n", l, s, m, 100 * (s - m) / m,
                 model, s / model, m / model }'
}

# One pass of the window rows; busy: a second program keeps one core busy meanwhile.
window_rows() {
    local busy=$1 hog=""
    if [[ $busy == busy ]]; then
        timeout 600 sh -c 'while :; do :; done' &  # ends by itself should this pass fail
        hog=$!
    fi
    echo
    echo "window under Wine (tq73panel.exe, simulator paced at 38400 baud), $busy:"
    window=$(bash "$top/tests/bench/window_bench.sh")
    if [[ -n $hog ]]; then kill "$hog"; fi
    printf '%-22s %12s %12s %8s %12s %6s %6s\n' "" "shown" "minimized" "shown +" "line+pauses" "ratio" "min."
    row "ap-stop (median of 20)" ap-stop "ap-stop"
    row "farm udt (median of 3)" update "full update"
    row "flash read, 128 KB" read "flash read"
    read -r _ cpu seconds < <(grep '^idle ' <<<"$window")
    echo "idle, port open, window shown: ${cpu}% of one core over ${seconds} s"
    local cli shown
    read -r _ cli < <(grep '^cli-update ' <<<"$window")
    read -r _ shown _ < <(grep '^update ' <<<"$window")
    awk -v c="$cli" -v s="$shown" -v model="$(model "full update")" \
        'BEGIN { printf "tq73.exe update, 192 pages (median of 3): %.1f ms (ratio %.3f); window shown / tq73.exe %.3f\n",
                 c, c / model, s / c }'
}

window_rows idle
window_rows busy

echo
"$top/scripts/marginal_line.sh"
