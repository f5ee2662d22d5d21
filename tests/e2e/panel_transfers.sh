#!/usr/bin/env bash
# Flash write, read and erase through the service panel's own controls: the panel is
# shown with the system-menu command, the edits are filled and the buttons clicked.
# The device's flash (its dump) and the file read back must hold the file written; a
# missing file shows OPEN ERROR.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly BASE=0x11F80  # above 64 KiB and not on a 256-byte boundary
readonly SIZE=4096

e2e_begin shim
e2e_start_sim --flash-fill FF --flash-dump "$E2E_DUMP"
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashWrite" 1 10 >/dev/null ||
    e2e_fail "the service panel did not show"

source_file=$TQ_WORK/source.bin
copy_file=$TQ_WORK/copy.bin
head -c $SIZE /dev/urandom >"$source_file"
rm -f "$copy_file"

# dump_range OFFSET COUNT: bytes of the device's flash as hex.
dump_range() {
    tail -c +$(($1 + 1)) "$E2E_DUMP" 2>/dev/null | head -c "$2" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F
}
flash_holds_source() { [[ $(dump_range $BASE $SIZE) == "$(tq_hex "$source_file")" ]]; }
flash_erased() { [[ $(dump_range $BASE $SIZE) == "$(printf 'FF%.0s' $(seq $SIZE))" ]]; }
copy_complete() { [[ -f $copy_file && $(stat -c %s "$copy_file") == "$SIZE" ]]; }

# Write: an empty length edit takes the file's size.
tq_drive settext "$kIdStartAddressEdit" 11f80h settext "$kIdLengthEdit" "" \
    settext "$kIdFileEdit" "$(tq_windows_path "$source_file")" \
    click "$kIdFlashWrite" text "$kIdLengthEdit" $SIZE 5 >/dev/null ||
    e2e_fail "the write did not start with the file's size"
tq_wait_until 30 flash_holds_source || e2e_fail "the device's flash does not hold the file"

# Read back into a new file.
tq_drive settext "$kIdStartAddressEdit" 73600 settext "$kIdFileEdit" "$(tq_windows_path "$copy_file")" \
    click "$kIdFlashRead" >/dev/null ||
    e2e_fail "could not start the read"
tq_wait_until 30 copy_complete || e2e_fail "the read did not make a $SIZE-byte file"
cmp -s "$source_file" "$copy_file" || e2e_fail "the file read back differs from the file written"

# Erase the range; the file only gives the length.
tq_drive click "$kIdFlashErase" >/dev/null || e2e_fail "could not start the erase"
tq_wait_until 30 flash_erased || e2e_fail "the range was not erased"

tq_drive nobox >/dev/null || e2e_fail "a box appeared during the transfers"
e2e_log_snapshot
# 4096 bytes from 0x11F80: 17 write chunks (the first and last of 128 bytes), 16 reads.
e2e_expect_log_count "T-267 0250040184" 15
e2e_expect_log_count "T-139 02508400" 2
e2e_expect_log_count "T- 13 02500600048" 16
e2e_expect_log_count "T- 13 0250060044801F010010" 1

# A missing file: OPEN ERROR, nothing sent.
tq_drive settext "$kIdFileEdit" "$(tq_windows_path "$TQ_WORK/none.bin")" \
    click "$kIdFlashWrite" box "OPEN ERROR" 10 >/dev/null ||
    e2e_fail "a missing file did not bring OPEN ERROR"

e2e_close_panel
tq_stop_sim
e2e_pass
