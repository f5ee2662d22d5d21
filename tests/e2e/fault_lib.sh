# fault_lib.sh: what the fault scenarios (fault_*.sh) share beside common.sh: one console
# kept running through a table of cases while the simulator is restarted with each
# case's faults, a watch on the window's responsiveness, bounded waits that say how long
# they took, and looks into the device's flash. Sourced after common.sh.

# How long one message round trip through the console's window may take, in seconds.
readonly F_ALIVE_BOUND=1

F_INJECT=''  # the file the simulator puts on the line at SIGUSR2
F_CASE=''    # the case being run, for the messages

f_case() {
    F_CASE=$1
    F_CASE_T0=$SECONDS
    e2e_note "case $F_CASE"
}

f_fail() { e2e_fail "[$F_CASE] $*"; }

# f_sim [SIM OPTIONS...]: (re)start the simulator on COM1's link with a fresh flash dump
# and the drill file; the console's session is closed first and opened again after, as
# an operator does when the device has been power-cycled.
f_sim() {
    if [[ -n ${TQ_PANEL_PID:-} ]]; then
        tq_drive press "$kIdClose" enabled "$kIdPortEdit" 1 15 >/dev/null || f_fail "close did not end the session"
    fi
    tq_stop_sim
    F_INJECT=$TQ_WORK/inject.bin
    : >"$F_INJECT"
    f_start_sim "$@"
    if [[ -n ${TQ_PANEL_PID:-} ]]; then
        e2e_open_com1
    fi
}

# f_start_sim [SIM OPTIONS...]: the simulator with a fresh flash dump and the drill
# file; F_FILL keeps its --flash-fill.
f_start_sim() {
    F_FILL=00
    local a next=''
    for a in "$@"; do
        [[ $next == fill ]] && F_FILL=${a^^}
        next=''
        [[ $a == --flash-fill ]] && next=fill
    done
    rm -f "$E2E_DUMP"
    e2e_start_sim --flash-dump "$E2E_DUMP" --inject "$F_INJECT" "$@"
}

# f_sim_said TEXT N: the simulator has printed a line starting with TEXT N times or more.
f_sim_said() {
    (($(grep -c "^$1" "$TQ_WORK/sim.out" 2>/dev/null) >= $2))
}

# f_recover: the device answers normally again (every fault cleared); waits until the
# simulator confirms.
f_recover() {
    local n
    n=$(grep -c '^RECOVERED' "$TQ_WORK/sim.out")
    kill -USR1 "$TQ_SIM_PID" || f_fail "the simulator is gone"
    tq_wait_until 5 f_sim_said RECOVERED $((n + 1)) || f_fail "the simulator did not recover"
}

# f_inject FILE: the simulator puts FILE's bytes on the line unprompted.
f_inject() {
    local n
    n=$(grep -c '^INJECTED' "$TQ_WORK/sim.out")
    cp "$1" "$F_INJECT"
    kill -USR2 "$TQ_SIM_PID" || f_fail "the simulator is gone"
    tq_wait_until 5 f_sim_said INJECTED $((n + 1)) || f_fail "the simulator did not inject"
}

# f_watch_begin: round trips through the window every 100 ms in the background, each
# within F_ALIVE_BOUND, until f_watch_end.
f_watch_begin() {
    F_WATCH_OUT=$TQ_WORK/responsive.$RANDOM.txt
    # timeout itself is the background job, so that stopping it stops the driver too.
    (exec timeout 200 "$TQ_WINE_LOADER" "$TQ_DRIVE_EXE" responsive 180 "$F_ALIVE_BOUND" 9>&-) \
        >"$F_WATCH_OUT" 2>&1 &
    F_WATCH_PID=$!
}

# f_watch_end: stops the watch; fails when a round trip took longer than the bound.
f_watch_end() {
    # The watch ends by itself when it fails; otherwise it is stopped here.
    if kill -0 "$F_WATCH_PID" 2>/dev/null; then
        kill "$F_WATCH_PID" 2>/dev/null
        wait "$F_WATCH_PID" 2>/dev/null
        tq_drive alive "$F_ALIVE_BOUND" >/dev/null ||
            f_fail "the window did not answer within $F_ALIVE_BOUND s"
        e2e_note "  $(tail -n 1 "$F_WATCH_OUT")"
        return 0
    fi
    local rc=0
    wait "$F_WATCH_PID" 2>/dev/null || rc=$?
    # A failed step always says why; exit code 1 without a word is Wine ending the
    # driver at its start (seen now and then on a loaded machine), not the window.
    if [[ $rc == 1 && -s $F_WATCH_OUT ]]; then
        f_fail "the window stopped answering: $(tail -n 2 "$F_WATCH_OUT")"
    fi
    # Not a failed step: the driver itself did not run. The window is asked once.
    e2e_note "  the watch did not run (exit $rc: $(tail -n 1 "$F_WATCH_OUT")); one round trip instead"
    tq_drive alive "$F_ALIVE_BOUND" >/dev/null || f_fail "the window did not answer within $F_ALIVE_BOUND s"
}

# f_within SECS WHAT STEPS...: tqdrive steps that must end within SECS seconds (the
# case's stated bound); fails with WHAT otherwise.
f_within() {
    local bound=$1 what=$2 t0=$SECONDS
    shift 2
    TQ_DRIVE_BOUND=$((bound + 15)) tq_drive "$@" >"$TQ_WORK/step.out" 2>&1 ||
        f_fail "$what (within $bound s): $(tail -n 3 "$TQ_WORK/step.out")"
    ((SECONDS - t0 <= bound + 2)) || f_fail "$what took $((SECONDS - t0)) s, bound $bound s"
}

# f_dump_hex OFFSET COUNT: the device's flash from OFFSET as hex. The dump ends with the
# highest 4 KiB page ever written or erased; beyond it the flash still holds its fill.
f_dump_hex() {
    local hex
    hex=$(tail -c +$(($1 + 1)) "$E2E_DUMP" 2>/dev/null | head -c "$2" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F)
    printf '%s' "$hex"
    local have=$((${#hex} / 2))
    ((have < $2)) && f_fill_hex "$F_FILL" $(($2 - have))
    return 0
}

# f_file_hex FILE [OFFSET COUNT]: a file's bytes (or a range of them) as hex.
f_file_hex() {
    if (($# == 3)); then
        tail -c +$(($2 + 1)) "$1" | head -c "$3" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F
    else
        tq_hex "$1"
    fi
}

# f_fill_hex BYTE COUNT: COUNT times BYTE as hex.
f_fill_hex() {
    printf "$1%.0s" $(seq "$2")
}

# f_dump_settled: the simulator writes its dump at most every 80 ms; wait until it has
# not changed for half a second.
f_dump_settled() {
    local last='' now deadline=$((SECONDS + 10))
    while ((SECONDS < deadline)); do
        now=$(stat -c '%Y.%s.%i' "$E2E_DUMP" 2>/dev/null; md5sum <"$E2E_DUMP" 2>/dev/null)
        [[ -n $last && $now == "$last" ]] && return 0
        last=$now
        sleep 0.5
    done
    f_fail "the flash dump kept changing"
}

# f_flash_is OFFSET HEX WHAT: the device's flash holds HEX from OFFSET.
f_flash_is() {
    f_dump_settled
    local got
    got=$(f_dump_hex "$1" $((${#2} / 2)))
    [[ $got == "$2" ]] || f_fail "$3: the flash at $(printf '0x%X' "$1") holds ${got:0:64}..., expected ${2:0:64}..."
}

# f_log_snapshot: e2e_log_snapshot, asked again when the driver ended without a word
# (a Wine process on this loaded machine now and then does, before its first step).
f_log_snapshot() {
    E2E_LOG=$TQ_WORK/log.txt
    local attempt
    for attempt in 1 2 3; do
        tq_drive log >"$E2E_LOG" 2>"$TQ_WORK/log.err" && return 0
        [[ -s $TQ_WORK/log.err ]] && break
    done
    f_fail "could not read the log: $(cat "$TQ_WORK/log.err")"
}

# f_log_has TEXT N: the console's log holds TEXT exactly N times now.
f_log_has() {
    f_log_snapshot
    local n
    n=$(e2e_log_count "$1")
    [[ $n == "$2" ]] || f_fail "the log holds \"$1\" $n times, expected $2"
}

# f_clear_log: the log is emptied, so that each case counts its own lines.
f_clear_log() {
    tq_drive press "$kIdClearLog" >/dev/null || f_fail "could not clear the log"
    tq_wait_until 5 f__log_empty || f_fail "the log was not cleared"
}
f__log_empty() { [[ -z $(tq_drive log 2>/dev/null) ]]; }

# f_transfer ID START LENGTH FILE: set the panel's edits and press a transfer button
# (an empty FILE leaves the file edit empty).
f_transfer() {
    local file=''
    [[ -n $4 ]] && file=$(tq_windows_path "$4")
    tq_drive settext "$kIdStartAddressEdit" "$2" settext "$kIdLengthEdit" "$3" \
        settext "$kIdFileEdit" "$file" press "$1" >/dev/null ||
        f_fail "could not start transfer $1"
}

# f_press_idle ID [SECS]: press ID once the console's last worker has been reaped: a
# press refused as busy (a worker that has just shown its box may not be reaped yet) is
# repeated, within SECS (default 10).
f_press_idle() {
    local id=$1 deadline=$((SECONDS + ${2:-10})) before
    while :; do
        f_log_snapshot
        before=$(e2e_log_count "busy:")
        tq_drive press "$id" sleep 0.3 >/dev/null || f_fail "could not press $id"
        f_log_snapshot
        (($(e2e_log_count "busy:") == before)) && return 0
        ((SECONDS < deadline)) || f_fail "the console stayed busy for ${2:-10} s"
    done
}

# f_start_panel [ARGS...]: the console, and its controls made: its window can be found
# a moment before the dialog has created the controls (seen once in 21 runs here).
f_start_panel() {
    tq_start_panel "$@" || e2e_fail "the console did not start"
    tq_wait_until 10 f__has_port_edit || e2e_fail "the console's window has no controls"
}
f__has_port_edit() { tq_drive gettext "$kIdPortEdit" >/dev/null 2>&1; }

# f_open_panel [CONSOLE ARGS...]: the console started, COM1 open, the service panel shown.
f_open_panel() {
    f_start_panel "$@"
    e2e_open_com1
    tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashWrite" 1 10 >/dev/null ||
        e2e_fail "the service panel did not show"
}

# f_run_cases NAME...: case_NAME for each, in order, then the console closes cleanly.
f_run_cases() {
    local c
    for c in "$@"; do
        f_case "$c"
        "case_$c"
        e2e_note "case $c passed ($((SECONDS - F_CASE_T0)) s)"
    done
    e2e_close_panel
    e2e_pass
}
