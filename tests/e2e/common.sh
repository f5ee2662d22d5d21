# common.sh: what the end-to-end scenarios share: one session per scenario (Xvfb, the
# Wine prefix, COM1 mapped to the simulator's link, the wineserver), checks, and a
# post-mortem on failure. Sourced by each scenario script.

# shellcheck source=scripts/wine-env.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/wine-env.sh"

tq_env_init
set -o pipefail

E2E_NAME=$(basename "$0" .sh)${E2E_VARIANT:+.$E2E_VARIANT}
E2E_T0=$SECONDS

e2e_note() { printf '%s: %s\n' "$E2E_NAME" "$*"; }

e2e_fail() {
    printf 'FAIL %s: %s\n' "$E2E_NAME" "$*" >&2
    e2e_post_mortem >&2
    exit 1
}

e2e_pass() {
    printf 'PASS %s (%d s)\n' "$E2E_NAME" "$((SECONDS - E2E_T0))"
    exit 0
}

# wine-env.sh has set the control ids under their names in shell/command_ids.h.
[[ -n ${kIdOpen:-} ]] || e2e_fail "could not read shell/command_ids.h"

e2e_post_mortem() {
    [[ -n ${TQ_WORK:-} && -d $TQ_WORK ]] || return 0
    if [[ -n ${TQ_PANEL_PID:-} ]] && kill -0 "$TQ_PANEL_PID" 2>/dev/null; then
        echo "--- console log now:"
        TQ_DRIVE_BOUND=20 tq_drive log 2>&1 | sed 's/^/  | /'
    fi
    echo "--- bytes the simulator received: $(e2e_record_hex)"
    local f
    for f in panel.err sim.err sim.out; do
        [[ -s $TQ_WORK/$f ]] || continue
        echo "--- $f (last lines):"
        tail -n 15 "$TQ_WORK/$f" | sed 's/^/  | /'
    done
}

# A 32-bit console needs Wine's 32-bit side: without it the scenario is skipped with
# exit code 77 (the test registration's skip code) and the reason.
e2e_skip_without_wine32() {
    [[ $(tq_pe_machine "$TQ_PANEL_EXE") == 014c ]] || return 0
    local why
    if why=$(tq_wine32_missing); then
        printf 'SKIP %s: %s\n' "$E2E_NAME" "$why"
        exit 77
    fi
    e2e_note "32-bit console $TQ_PANEL_EXE, driver $TQ_DRIVE_EXE"
}

# e2e_begin shim|noshim [N...]: everything but the simulator and the console; COM1, and
# each further COMn given, lead to the simulator's link; N=PATH leads COMn to PATH.
e2e_begin() {
    e2e_skip_without_wine32
    tq_session_begin || e2e_fail "could not begin a session"
    tq_start_xvfb || e2e_fail "no X server"
    tq_prefix_ensure || e2e_fail "no Wine prefix"
    E2E_LINK=$TQ_COM1_LINK
    mkdir -p "$(dirname "$E2E_LINK")"
    local n
    for n in 1 "${@:2}"; do
        local to=$E2E_LINK
        [[ $n == *=* ]] && to=${n#*=} n=${n%%=*}
        tq_map_port "$n" "$to" || e2e_fail "could not map COM$n"
    done
    # Every session sets the display scale: the prefix keeps what the last one set.
    tq_set_logpixels "${TQ_LOGPIXELS:-96}" || e2e_fail "could not set LogPixels"
    tq_start_wineserver "$1" || e2e_fail "no wineserver"
    E2E_RECORD=$TQ_WORK/record.bin
    # shellcheck disable=SC2034 # read by the scenarios
    E2E_DUMP=$TQ_WORK/flash.bin
}

# e2e_start_sim [OPTIONS...]: the simulator on COM1's link, recording what it receives.
e2e_start_sim() {
    rm -f "$E2E_LINK"
    : >"$E2E_RECORD"
    tq_start_sim "$E2E_LINK" --record "$E2E_RECORD" "$@" || e2e_fail "simulator did not start"
}

e2e_record_hex() {
    [[ -f ${E2E_RECORD:-} ]] && tq_hex "$E2E_RECORD"
}

e2e_record_size() {
    stat -c %s "$E2E_RECORD" 2>/dev/null || echo 0
}

# e2e_record_at_least N: the simulator has received N bytes or more.
e2e_record_at_least() {
    (($(e2e_record_size) >= $1))
}

# e2e_record_settle SECS: wait until the record has not grown for SECS seconds (bounded
# by 30 s), so that a check of "exactly these bytes" also sees late extra bytes.
e2e_record_settle() {
    local quiet=$1 size last changed=$SECONDS deadline=$((SECONDS + 30))
    last=$(e2e_record_size)
    while ((SECONDS < deadline)); do
        sleep 0.2
        size=$(e2e_record_size)
        if [[ $size != "$last" ]]; then
            last=$size
            changed=$SECONDS
        elif ((SECONDS - changed >= quiet)); then
            return 0
        fi
    done
    e2e_fail "the simulator kept receiving bytes for 30 s"
}

# e2e_expect_record HEX: the simulator received exactly these bytes.
e2e_expect_record() {
    local got
    got=$(e2e_record_hex)
    [[ $got == "$1" ]] || e2e_fail "the line carried $got, expected $1"
}

# e2e_log_snapshot: the console's log into $E2E_LOG (one line each, UTF-8).
e2e_log_snapshot() {
    E2E_LOG=$TQ_WORK/log.txt
    tq_drive log >"$E2E_LOG" || e2e_fail "could not read the log"
}

# e2e_log_count TEXT: lines of the last snapshot holding TEXT.
e2e_log_count() {
    grep -cF -- "$1" "$E2E_LOG"
}

e2e_expect_log_count() {
    local n
    n=$(e2e_log_count "$1")
    [[ $n == "$2" ]] || e2e_fail "the log holds \"$1\" $n times, expected $2"
}

# e2e_open_com1: open COM1 from the console and check that the session is open.
e2e_open_com1() {
    tq_drive text "$kIdPortEdit" 1 5 press "$kIdOpen" enabled "$kIdPortEdit" 0 15 nobox >/dev/null ||
        e2e_fail "COM1 did not open"
}

# e2e_close_panel: WM_CLOSE; the console must end with exit code 0.
e2e_close_panel() {
    tq_stop_panel 20
    [[ $TQ_PANEL_RC == 0 ]] || e2e_fail "the console ended with exit code $TQ_PANEL_RC after WM_CLOSE"
}

# e2e_cpu_ticks PID: user+system clock ticks the process has used so far.
e2e_cpu_ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# The firmware file the update scenarios program.
E2E_SAMPLE=${TQ_SAMPLE_MOT:-$TQ_ROOT/firmware/samples/tq1-sample.mot}

e2e_need_sample() {
    [[ -f $E2E_SAMPLE ]] || e2e_fail "no sample firmware at $E2E_SAMPLE"
}

# e2e_model_frame MOT: the model request (hex) that the file's model record selects:
# TQ1, TQ2, TQ3 ask with 'p', 'q', 'r'; the last model record counts.
e2e_model_frame() {
    local n cmd
    n=$(tr -d '\r' <"$1" | sed -n 's/^TQ[[:space:]]*\([0-9]*\).*/\1/p' | tail -n 1)
    case $n in
        1 | 2 | 3) cmd=$((0x6F + n)) ;;
        *) return 1 ;;
    esac
    printf '02%02X000003%02X0D' "$cmd" $(((2 + cmd + 3) & 0xFF))
}

# e2e_program_sample ID WHAT [SIM ARGS...]: starts the simulator with a flash dump and
# the console with the sample firmware, opens COM1, presses ID (farm udt or recovery)
# and waits for the update to end; the log must show the success line once and no
# failure line.
e2e_program_sample() {
    local id=$1 what=$2
    shift 2
    e2e_start_sim "$@" --flash-dump "$E2E_DUMP"
    tq_start_panel "$(tq_windows_path "$E2E_SAMPLE")" || e2e_fail "the console did not start"
    e2e_open_com1
    tq_drive press "$id" watch "更新完了|更新失敗" 90 | sed 's/^/  log: /' ||
        e2e_fail "the $what did not finish"
    e2e_log_snapshot
    e2e_expect_log_count "更新完了" 1
    e2e_expect_log_count "更新失敗" 0
}

# e2e_expect_flash MOT DUMP FILL: the first 64 KiB of the device flash (a raw dump of
# 64 KiB or more: it grows with application-mode writes above) hold what an update from
# MOT leaves: the file's bytes at their addresses, the rest of every block that the file
# touches erased to FF, every other byte still FILL (the simulator's starting content).
# Data records below 0x3000 are not programmed.
e2e_expect_flash() {
    local mot=$1 dump=$2 fill=$3
    [[ -f $dump ]] || e2e_fail "no flash dump at $dump"
    local size
    size=$(stat -c %s "$dump")
    ((size >= 65536)) || e2e_fail "the flash dump has $size bytes, fewer than 65536"
    tr -d '\r' <"$mot" | awk -v fill=$((16#$fill)) "$E2E_FLASH_AWK" >"$TQ_WORK/flash.expected"
    head -c 65536 "$dump" | od -An -v -tu1 -w1 | tr -d ' ' >"$TQ_WORK/flash.actual"
    local diffs
    diffs=$(awk 'NR == FNR { want[FNR - 1] = $1; next }
                 want[FNR - 1] != $1 { bad++; if (bad <= 8) printf "  %04X: %02X, expected %02X\n", FNR - 1, $1, want[FNR - 1] }
                 END { if (bad) printf "  %d bytes differ\n", bad }' \
        "$TQ_WORK/flash.expected" "$TQ_WORK/flash.actual")
    [[ -z $diffs ]] || e2e_fail "the flash does not hold the image:"$'\n'"$diffs"
}

# Blocks as the device's boot loader knows them; the last one (F000) is never programmed.
# shellcheck disable=SC2016 # awk's own $ fields
E2E_FLASH_AWK='
function hex(s,   i, v) {
    v = 0
    for (i = 1; i <= length(s); i++)
        v = v * 16 + index("0123456789ABCDEF", toupper(substr(s, i, 1))) - 1
    return v
}
function store(addr, count, from,   k) {
    if (addr < 12288) return
    for (k = 0; k < count && addr + k < 65536; k++)
        image[addr + k] = hex(substr($0, from + 2 * k, 2))
}
/^S1/ { store(hex(substr($0, 5, 4)), hex(substr($0, 3, 2)) - 3, 9) }
/^S2/ { store(hex(substr($0, 5, 6)), hex(substr($0, 3, 2)) - 4, 11) }
END {
    split("12288 13312 14336 15360 40960 49152 57344", start, " ")
    split("1024 1024 1024 1024 8192 8192 4096", size, " ")
    for (b = 1; b <= 7; b++)
        for (a = start[b]; a < start[b] + size[b]; a++)
            if ((a in image) && image[a] != 255) { used[b] = 1; break }
    for (a = 0; a < 65536; a++) {
        v = fill
        for (b = 1; b <= 7; b++)
            if (used[b] && a >= start[b] && a < start[b] + size[b]) v = 255
        if (a in image) v = image[a]
        print v
    }
}'
