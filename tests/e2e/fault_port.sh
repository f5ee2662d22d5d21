#!/usr/bin/env bash
# The port disappears in the middle of a transfer: the simulator exits (SIGTERM) or is
# killed (SIGKILL) under a flash write, a flash read and a firmware update. For each
# case: the console says so within the case's bound (log line and box, or the update's
# failure line), the session ends by itself with the line that says the port went away
# and the port edit is free again as after "close", its window answers every 100 ms
# throughout, the flash holds exactly the chunks the device took; once the simulator is
# back on the same link "open" works, without "close", and the next operation completes.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"
e2e_need_sample

e2e_begin shim
f_sim
f_open_panel "$(tq_windows_path "$E2E_SAMPLE")"

readonly SIZE=65536
readonly WRITE_FRAME=267  # a 256-byte write request
readonly READ_FRAME=13
source_file=$TQ_WORK/source.bin
read_file=$TQ_WORK/read.bin
small_file=$TQ_WORK/small.bin
small_copy=$TQ_WORK/small-copy.bin
head -c $SIZE /dev/urandom >"$source_file"
head -c 1024 /dev/urandom >"$small_file"

# f_lose_device SIGNAL RECORDED: once the device has received RECORDED bytes, end the
# simulator with SIGNAL; the link is left as the signal leaves it.
f_lose_device() {
    tq_wait_until 20 e2e_record_at_least "$2" || f_fail "the transfer did not get under way"
    kill -"$1" "$TQ_SIM_PID"
    tq_wait_pid "$TQ_SIM_PID" 10 >/dev/null
    TQ_SIM_PID=''
}

# After the loss: the session has ended by itself, saying so once; the simulator back on
# the same link (SIM OPTIONS...), open. (An "open" while the device is gone is not
# tried: Wine opens /dev/ttyS0 for a COM port whose mapped path is missing, where
# Windows would refuse it.)
f_come_back() {
    f_within 5 "the session did not end by itself" enabled "$kIdPortEdit" 1 5
    f_log_has "the port went away (the adapter was unplugged or the line closed)" 1
    f_start_sim "$@"
    e2e_open_com1
}

f_small_round_trip() {
    rm -f "$small_copy"
    f_press_idle "$kIdApResume"  # a request answered: the new session works
    f_transfer "$kIdFlashWrite" 7000h "" "$small_file"
    tq_wait_until 15 f_small_written || f_fail "the write after reopening did not reach the flash"
    f_transfer "$kIdFlashRead" 7000h 1024 "$small_copy"
    tq_wait_until 15 f_small_read || f_fail "the read after reopening did not complete"
    tq_drive nobox >/dev/null || f_fail "a box after reopening"
}
f_record_ends_with() { [[ $(tail -c 1 "$E2E_RECORD" | tq_hex /dev/stdin) == "$1" ]]; }
f_small_written() { [[ $(f_dump_hex 0x7000 1024) == "$(f_file_hex "$small_file")" ]]; }
f_small_read() { [[ -f $small_copy ]] && cmp -s "$small_file" "$small_copy"; }

# The simulator exits under a 64 KiB write; its last dump holds what it took.
case_write_exit() {
    f_sim --flash-fill 00
    f_clear_log
    f_watch_begin
    f_transfer "$kIdFlashWrite" 30000h "" "$source_file"
    f_lose_device TERM $((20 * WRITE_FRAME))
    f_within 12 "no line and box for the lost port" \
        waitlog "flash write: no answer at|flash write: the port is closed at" 5 box "FLASH WRITE 異常" 5
    f_watch_end
    local taken=$(($(e2e_record_size) / WRITE_FRAME))
    ((taken >= 20 && taken < 256)) || f_fail "the device took $taken chunks"
    f_flash_is 0x30000 "$(f_file_hex "$source_file" 0 $((taken * 256)))" "the chunks taken"
    f_flash_is $((0x30000 + taken * 256)) "$(f_fill_hex 00 $((SIZE - taken * 256)))" "the chunks not taken"
    f_come_back --flash-fill 00
    f_small_round_trip
}

# The simulator is killed under a 64 KiB read: the file still gets the full length.
case_read_kill() {
    f_sim --flash-fill 3C
    f_clear_log
    rm -f "$read_file" "$read_file.partial"
    f_watch_begin
    f_transfer "$kIdFlashRead" 10000h $SIZE "$read_file"
    f_lose_device KILL $((20 * READ_FRAME))
    # A spoilt or lost answer before the session sees the port gone is asked again.
    f_within 22 "no line and box for the lost port" \
        waitlog "flash read: no answer at|flash read: the port is closed at|flash read: damaged answer at" 17 box "FLASH READ 異常" 5
    f_watch_end
    tq_wait_until 5 test -f "$read_file.partial" || f_fail "the read made no partial file"
    [[ ! -e $read_file ]] || f_fail "the failed read made the file"
    # The device may die before, while or after answering the request that it received
    # last: the failure line names the first chunk not read whole (a cut answer ends
    # the read as a damaged one), and exactly the chunks before it are in FILE.partial.
    local failed_at answered
    failed_at=$(tq_drive log | grep -o '^flash read: .* at 0x[0-9A-F]*' | grep -o '0x[0-9A-F]*$' | tail -1)
    [[ -n $failed_at ]] || f_fail "no failure line names where the read stopped"
    answered=$(((failed_at - 0x10000) / 256))
    ((answered >= 19)) || f_fail "only $answered chunks were answered whole before the kill"
    [[ $(f_file_hex "$read_file.partial") == "$(f_fill_hex 3C $((answered * 256)))" ]] ||
        f_fail "the $answered chunks read are not exactly what the partial file holds"
    f_come_back --flash-fill 00
    f_small_round_trip
}

# The simulator is killed in the pause after "W" of a firmware update; it comes back in
# boot mode, as a device whose update was cut, and "recovery" programs it.
case_update_kill() {
    f_sim --flash-fill 00
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdFarmUpdate" waitlog "書込中" 10 >/dev/null || f_fail "the update did not reach write mode"
    # "書込中" is logged before the "W" goes out: the kill waits for the "W" to arrive and
    # for its reply, or it could land before the reply (err 02, not the pause's err 04).
    tq_wait_until 5 f_record_ends_with 57 || f_fail "the simulator did not receive the W"
    sleep 0.2
    kill -KILL "$TQ_SIM_PID"
    tq_wait_pid "$TQ_SIM_PID" 10 >/dev/null
    TQ_SIM_PID=''
    f_within 10 "no failure line" waitlog "更新失敗 err: 04" 10 nobox
    f_watch_end
    f_come_back --flash-fill 00 --boot
    f_clear_log
    f_press_idle "$kIdRecovery"
    f_within 20 "recovery did not complete" waitlog "更新完了|更新失敗" 20 nobox
    f_log_has "更新完了" 1
    tq_stop_sim
    e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
}

f_run_cases write_exit read_kill update_kill
