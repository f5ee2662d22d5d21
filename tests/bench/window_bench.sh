#!/usr/bin/env bash
# window_bench.sh: the benchmark's window rows (not a test). tq73panel.exe runs under
# Wine against the simulator paced at 38400 baud; an ap-stop (20 runs), "farm udt" of a
# full image (192 pages, 3 runs) and a 128 KiB flash read are timed by the driver from the
# press to the line (or status text) that ends them, once with the window shown and
# once minimized. Then the console's CPU use while idle with the port open and the
# window shown. Last, tq73.exe's update of the same image under Wine (3 runs), timed from
# its model request frame to its 更新完了 line (its --json events). Rows give medians. Prints one line per
# row: "ROW shown_ms minimized_ms", "idle CPU_PERCENT SECONDS", "cli-update MS";
# bench.sh puts them beside the protocol model.
set -u -o pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine-env.sh
source "$here/../../scripts/wine-env.sh"

die() { printf 'window_bench: %s\n' "$*" >&2; exit 1; }

tq_session_begin || die "could not begin a Wine session"
image=$TQ_WORK/full.mot
python3 "$TQ_ROOT/firmware/make_full_image.py" "$image" || die "could not write the full image"
tq_start_xvfb || die "no X server"
tq_prefix_ensure || die "no Wine prefix"
tq_map_port 1 "$TQ_COM1_LINK" || die "could not map COM1"
tq_start_wineserver shim || die "no wineserver"
rm -f "$TQ_COM1_LINK"
tq_start_sim "$TQ_COM1_LINK" --pace || die "the simulator did not start"
tq_start_panel "$(tq_windows_path "$image")" || die "the console did not start"
tq_drive text "$kIdPortEdit" 1 5 press "$kIdOpen" enabled "$kIdPortEdit" 0 15 nobox >/dev/null ||
    die "COM1 did not open"
read_file=$TQ_WORK/read.bin
tq_drive settext "$kIdStartAddressEdit" 0 settext "$kIdLengthEdit" 131072 \
    settext "$kIdFileEdit" "$(tq_windows_path "$read_file")" >/dev/null ||
    die "could not fill the transfer edits"

# median OUTPUT: the median from a timeit line.
median() { sed -n 's/.*median \([0-9.]*\).*/\1/p' <<<"$1"; }

declare -A row
for mode in shown minimized; do
    if [[ $mode == minimized ]]; then
        tq_drive minimize >/dev/null || die "could not minimize the window"
    else
        tq_drive restore >/dev/null || die "could not restore the window"
    fi
    out=$(tq_drive timeit "$kIdApStop" "R- " 20 10) || die "ap-stop ($mode): $out"
    row[apstop.$mode]=$(median "$out")
    out=$(tq_drive timeit "$kIdFarmUpdate" "更新完了|更新失敗" 3 120) || die "farm udt ($mode): $out"
    row[update.$mode]=$(median "$out")
    out=$(tq_drive timeit "$kIdFlashRead" "status:complete in|refused|no answer" 1 180) || die "flash read ($mode): $out"
    row[read.$mode]=$(median "$out")
    echo "window_bench: $mode done" >&2
done
printf 'ap-stop %s %s\n' "${row[apstop.shown]}" "${row[apstop.minimized]}"
printf 'update %s %s\n' "${row[update.shown]}" "${row[update.minimized]}"
printf 'read %s %s\n' "${row[read.shown]}" "${row[read.minimized]}"

# Idle: the port open, the window shown, nothing running.
tq_drive restore >/dev/null || die "could not restore the window"
sleep 1
console=$TQ_PANEL_PID  # the Wine loader execs into the console's process
[[ -r /proc/$console/stat ]] || die "the console process is not found"
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks "$console")
sleep 10
t1=$(ticks "$console")
awk -v d=$((t1 - t0)) -v hz="$hz" 'BEGIN { printf "idle %.2f 10\n", 100 * d / hz / 10 }'
tq_stop_panel 20

# tq73.exe on the port the window has let go: the same update, as a script runs it,
# three times (the median).
updates=()
for run in 1 2 3; do
    events=$TQ_WORK/cli-update.json
    (cd "$TQ_WORK" && timeout 120 "$TQ_WINE_LOADER" "$(dirname "$TQ_PANEL_EXE")/tq73.exe" --json --port COM1 \
        update "$(tq_windows_path "$image")" 9>&-) >"$events" 2>/dev/null || die "tq73.exe update failed"
    ms=$(python3 - "$events" <<'PY'
import json, sys
first = done = None
for line in open(sys.argv[1], encoding="utf-8"):
    e = json.loads(line)
    if first is None and e.get("event") == "sent":
        first = e["ms"]
    if e.get("text") == "更新完了":
        done = e["ms"]
if first is None or done is None:
    sys.exit(1)
print(done - first)
PY
) || die "tq73.exe's events hold no update"
    updates+=("$ms")
done
printf 'cli-update %s\n' "$(printf '%s\n' "${updates[@]}" | sort -n | sed -n 2p)"
