#!/usr/bin/env bash
# The parameter block, the clock and the pattern sequence through the service panel's
# own controls, and the panel hidden again: the wire carries the chain stop, erase,
# write, 0x62; the clock query answers what was set; a pattern sequence starts and
# stops with its log lines.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin shim
pattern_log=$TQ_WORK/patterns.txt
: >"$pattern_log"
e2e_start_sim --flash-fill FF --flash-dump "$E2E_DUMP" --pattern-log "$pattern_log"
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdParamBlock0" 1 10 >/dev/null ||
    e2e_fail "the service panel did not show"

# Parameter block 2: 'AB' and 'C' (the block begins 00 05 41 42 00 43 00).
readonly REQUEST62=0262000003670D
tq_drive settext $((kIdParamFirstText0 + 2)) AB settext $((kIdParamSecondText0 + 2)) C click $((kIdParamBlock0 + 2)) \
    waitlog "T-  7 $REQUEST62" 15 >/dev/null ||
    e2e_fail "the parameter-block chain did not end with request 0x62"
block_hex() { tail -c +$((0xE200 + 1)) "$E2E_DUMP" | head -c 8 | od -An -v -tx1 | tr -d ' \n'; }
block_written() { [[ $(block_hex) == 0005414200430000 ]]; }
tq_wait_until 10 block_written || e2e_fail "the device holds $(block_hex) at E200"
e2e_log_snapshot
e2e_expect_log_count "T-  7 0260000003650D" 1
e2e_expect_log_count "T- 13 025006004400E200000103820D" 1
e2e_expect_log_count "T-267 025004018400E2000005414200430000" 1
e2e_expect_log_count "T-  7 $REQUEST62" 1

# The clock: set from the PC, then the query answers the same day number and time.
tq_drive click "$kIdSetClock" waitlog "T- 12 022005" 5 click "$kIdReadClock" waitlog "R- 13 023006" 5 >/dev/null ||
    e2e_fail "the clock requests got no answer"
e2e_log_snapshot
set_payload=$(grep -o 'T- 12 022005[0-9A-F]*' "$E2E_LOG" | tail -1 | cut -c15-24)
read_payload=$(grep -o 'R- 13 023006[0-9A-F]*' "$E2E_LOG" | tail -1 | cut -c15-24)
[[ -n $set_payload && $set_payload == "$read_payload" ]] ||
    e2e_fail "the clock was set to $set_payload but reads $read_payload"

# The pattern sequence: the table goes out, then stop; stopped while the table is shown,
# the empty pattern takes it off before "停止!!".
tq_drive click "$kIdSequenceStart" waitlog "T- 64 02503900830000000203" 5 \
    click "$kIdSequenceStop" waitlog "停止!!" 5 >/dev/null ||
    e2e_fail "the pattern sequence did not start and stop"
e2e_log_snapshot
e2e_expect_log_count "開始!!" 1
e2e_expect_log_count "停止!!" 1
e2e_expect_log_count "T- 11 025004008300000003DC0D" 1
grep -q '^[0-9]* 53 0203000002' "$pattern_log" || e2e_fail "the device did not record the pattern table"
[[ $(tail -n 1 "$pattern_log" | cut -d' ' -f2) == 0 ]] || e2e_fail "the table was not taken off: $(tail -n 1 "$pattern_log")"

# Texts that the block's 256 bytes cannot hold: a box before anything is sent.
sent=$(e2e_record_size)
tq_drive settext $((kIdParamFirstText0 + 1)) "$(printf 'A%.0s' $(seq 200))" \
    settext $((kIdParamSecondText0 + 1)) "$(printf 'b%.0s' $(seq 60))" click $((kIdParamBlock0 + 1)) \
    box "parameter block 1: the texts need 264 bytes, the block holds 256: nothing was sent" 5 >/dev/null ||
    e2e_fail "texts that do not fit had no box"
[[ $(e2e_record_size) == "$sent" ]] || e2e_fail "texts that do not fit: bytes reached the line"

# Hidden again: the window is back to its shipped size, the panel's controls hidden.
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdParamBlock0" 0 10 visible "$kIdFlashWrite" 0 5 nobox >/dev/null ||
    e2e_fail "the service panel did not hide"

e2e_close_panel
e2e_pass
