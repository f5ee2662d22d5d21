#!/usr/bin/env bash
# Transfer files (the file edit, kIdFileEdit) that a flash write or read cannot use as it would like:
# missing, read-only (only read, so written), held open by another program without
# sharing (for a moment, or longer than the open asks again), 0 bytes, larger
# than the 0x20000-byte transfer buffer, and a read into a folder that does not exist;
# a write and an erase that would run past the top of the 24-bit address space; and a
# read that fails into an existing file; a pipe as the source, a read-only file and
# device names (NUL.bin, COM1) as a read's target, an empty file edit, and a write whose
# FF chunks were skipped.
# For each: the console's box or result within the case's bound, the window answering
# every 100 ms up to the box, nothing on the line when the file cannot be used, the
# flash holding exactly what was sent, files holding only bytes that were read, and the
# next transfer working.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"

e2e_begin shim
f_sim --flash-fill 00
f_open_panel

good=$TQ_WORK/good.bin
head -c 512 /dev/urandom >"$good"
readonly WRITE_T=T-267\ 0250040184

# The next transfer: a 512-byte write that must reach the flash.
next_write() {
    f_press_idle "$kIdClearLog"
    f_transfer "$kIdFlashWrite" 9000h "" "$good"
    tq_wait_until 10 f_good_written || f_fail "the next write did not reach the flash"
    tq_drive nobox >/dev/null || f_fail "a box after the next write"
}
f_good_written() { [[ $(f_dump_hex 0x9000 512) == "$(f_file_hex "$good")" ]]; }

# refused_case ID FILE BOX [START [LENGTH]]: the command refuses FILE with BOX; nothing is sent.
refused_case() {
    local before
    before=$(e2e_record_size)
    f_clear_log
    f_watch_begin
    f_transfer "$1" "${4:-4000h}" "${5:-}" "$2"
    tq_drive sleep 1 >/dev/null
    # Up to the box only: a box owned by the UI thread stalls it as it is taken down
    # under Wine without a window manager (see fault_firmware_files.sh).
    f_watch_end
    f_within 8 "no $3 box" box "$3" 8
    f_log_has "T-" 0
    [[ $(e2e_record_size) == "$before" ]] || f_fail "bytes reached the line"
}

case_missing() { refused_case "$kIdFlashWrite" "$TQ_WORK/missing.bin" "OPEN ERROR"; next_write; }

# A read-only file is only read: its bytes go to the flash.
case_read_only() {
    local f=$TQ_WORK/read-only.bin
    head -c 256 /dev/urandom >"$f"
    chmod 0444 "$f"
    f_transfer "$kIdFlashWrite" 4000h "" "$f"
    tq_wait_until 10 f_written_from "$f" 0x4000 || f_fail "the read-only file did not reach the flash"
    tq_drive nobox >/dev/null || f_fail "a box for the read-only file"
    next_write
}
f_written_from() { [[ $(f_dump_hex "$2" "$(stat -c %s "$1")") == "$(f_file_hex "$1")" ]]; }

# A file that another program holds without sharing for a moment (a virus scanner
# looking at a fresh copy): held from just before the press for 0.3 s, within the
# 0.5 s the open asks again, so the write goes ahead; the window answers throughout.
case_held_briefly() {
    local f=$TQ_WORK/held-briefly.bin
    head -c 256 /dev/urandom >"$f"
    f_watch_begin
    tq_drive settext "$kIdStartAddressEdit" 5000h settext "$kIdLengthEdit" "" \
        settext "$kIdFileEdit" "$(tq_windows_path "$f")" \
        holdfor "$(tq_windows_path "$f")" 0.3 press "$kIdFlashWrite" >/dev/null || f_fail "could not start the write"
    tq_wait_until 10 f_written_from "$f" 0x5000 || f_fail "the briefly held file did not reach the flash"
    f_watch_end
    tq_drive nobox >/dev/null || f_fail "a box for the briefly held file"
}

case_held() {
    local f=$TQ_WORK/held.bin
    head -c 256 /dev/urandom >"$f"
    local out=$TQ_WORK/hold.out
    (exec timeout 30 "$TQ_WINE_LOADER" "$TQ_DRIVE_EXE" hold "$(tq_windows_path "$f")" 8 9>&-) >"$out" 2>&1 &
    local holder=$!
    tq_wait_until 10 grep -q holding "$out" || f_fail "the helper did not hold the file"
    refused_case "$kIdFlashWrite" "$f" "OPEN ERROR"
    # A read into the held file: found before the device is asked, and the file is
    # not changed.
    local kept
    kept=$(f_file_hex "$f")
    refused_case "$kIdFlashRead" "$f" "OPEN ERROR" 4000h 256
    tq_wait_pid "$holder" 15 >/dev/null
    [[ $(f_file_hex "$f") == "$kept" ]] || f_fail "the held file was changed"
    next_write
}

case_empty() {
    local f=$TQ_WORK/empty.bin
    : >"$f"
    f_clear_log
    f_watch_begin
    f_transfer "$kIdFlashWrite" 4000h "" "$f"
    f_within 5 "the length edit did not get the file's size" text "$kIdLengthEdit" 0 5
    tq_drive sleep 1 nobox >/dev/null || f_fail "a box for the empty file"
    f_watch_end
    f_log_has "T-" 0
    next_write
}

# 0x20100 bytes, all FF (nothing to send) but for marks in the first and last chunk
# within the buffer and one chunk beyond it: only the first 0x20000 bytes are taken.
case_large() {
    local f=$TQ_WORK/large.bin
    {
        head -c 256 /dev/zero | tr '\0' '\021'
        head -c $((0x20000 - 512)) /dev/zero | tr '\0' '\377'
        head -c 256 /dev/zero | tr '\0' '\042'
        head -c 256 /dev/zero | tr '\0' '\063'
    } >"$f"
    f_clear_log
    f_watch_begin
    f_transfer "$kIdFlashWrite" 100000h "" "$f"
    f_within 5 "the length edit did not get the buffer's size" text "$kIdLengthEdit" 131072 5
    tq_wait_until 10 f_large_written || f_fail "the marks did not reach the flash"
    tq_drive sleep 1 nobox >/dev/null || f_fail "a box for the large file"
    f_watch_end
    f_log_has "$WRITE_T" 2
    f_flash_is 0x11FF00 "$(f_fill_hex 22 256)$(f_fill_hex 00 256)" "the end of the range"
    next_write
}
f_large_written() {
    [[ $(f_dump_hex 0x100000 256) == "$(f_fill_hex 11 256)" && $(f_dump_hex 0x11FF00 256) == "$(f_fill_hex 22 256)" ]]
}

# A read into a missing folder is refused at once, before any request.
case_no_folder() {
    refused_case "$kIdFlashRead" "$TQ_WORK/no-such-folder/read.bin" "OPEN ERROR" 9000h 256
    next_write
}

# A write and an erase whose range runs past 0xFFFFFF would go on at 0x000000: refused
# with a box before anything is sent, and the start of flash keeps its bytes.
case_top_write() {
    refused_case "$kIdFlashWrite" "$good" "runs past the top of the address space" FFFF00h
    f_flash_is 0 "$(f_fill_hex 00 256)" "the start of flash"
    next_write
}
case_top_erase() {
    refused_case "$kIdFlashErase" "$good" "runs past the top of the address space" FFFFF0h 20h
    f_flash_is 0 "$(f_fill_hex 00 256)" "the start of flash"
    next_write
}

# A read refused at its second chunk into an existing file: the file keeps its bytes,
# the 256 bytes read are in FILE.partial, and the log and the box name it.
case_read_fails() {
    local f=$TQ_WORK/existing.bin kept
    head -c 300 /dev/urandom >"$f"
    rm -f "$f.partial"
    kept=$(f_file_hex "$f")
    f_sim --flash-fill 00 --fault 50.04:refuse:0:2
    f_clear_log
    f_watch_begin
    f_transfer "$kIdFlashRead" 4000h 300h "$f"
    f_within 8 "no box for the refused read" box "existing.bin.partial" 8
    f_watch_end
    f_log_has "T- 13 0250060004" 2
    f_log_has "flash read: the 256 bytes read before the failure are in $(tq_windows_path "$f").partial" 1
    [[ $(f_file_hex "$f") == "$kept" ]] || f_fail "the existing file was changed"
    [[ $(f_file_hex "$f.partial") == "$(f_fill_hex 00 256)" ]] || f_fail "the partial file does not hold the 256 bytes read"
    f_sim --flash-fill 00
    next_write
}

# A pipe as the source (a FIFO with a writer, so that nothing waits for one): Windows
# reads only files on a disk; refused with a line that says so, nothing sent.
case_pipe_source() {
    local fifo=$TQ_WORK/source.fifo
    rm -f "$fifo"
    mkfifo "$fifo"
    (exec timeout 30 cp "$good" "$fifo") &
    local writer=$!
    refused_case "$kIdFlashWrite" "$fifo" "OPEN ERROR"
    f_log_has "flash write: $(tq_windows_path "$fifo") is not a file on a disk (a pipe or a device): nothing was sent" 1
    kill "$writer" 2>/dev/null
    wait "$writer" 2>/dev/null
    next_write
}

# A read never lands where a file should not be written: a read-only file (Wine runs
# as root here, and the console refuses it all the same), a device's name in any folder.
case_read_targets() {
    local ro=$TQ_WORK/read-only-target.bin kept
    head -c 64 /dev/urandom >"$ro"
    chmod 0444 "$ro"
    kept=$(f_file_hex "$ro")
    refused_case "$kIdFlashRead" "$ro" "OPEN ERROR" 4000h 16
    f_log_has "is read-only: nothing was sent" 1
    [[ $(f_file_hex "$ro") == "$kept" && $(stat -c %a "$ro") == 444 ]] || f_fail "the read-only file was changed"
    local name
    for name in NUL.bin COM1; do
        refused_case "$kIdFlashRead" "$TQ_WORK/$name" "OPEN ERROR" 4000h 16
        f_log_has "is a device's name, not a file: nothing was sent or written" 1
        [[ ! -e $TQ_WORK/$name && ! -e $TQ_WORK/$name.partial ]] || f_fail "a file was made for $name"
    done
    next_write
}

# An empty file edit: refused with its box, nothing opened, made or sent.
case_empty_name() {
    refused_case "$kIdFlashRead" "" "WRITE ERROR" 4000h 16
    f_log_has "flash read: no file name was given: nothing was opened or created" 1
    refused_case "$kIdFlashWrite" "" "OPEN ERROR"
    next_write
}

# Chunks of all FF are not sent: on flash that holds other bytes (00 here) the status
# strip says that the write counted on erased flash.
case_ff_skipped() {
    local f=$TQ_WORK/mostly-ff.bin
    { head -c 256 /dev/urandom; head -c 512 /dev/zero | tr '\0' '\377'; } >"$f"
    f_clear_log
    f_transfer "$kIdFlashWrite" 6000h "" "$f"
    f_within 10 "the status did not say that FF chunks were skipped" \
        progress "2 chunks of all FF not sent: they count on erased flash" 10
    f_log_has "T-267 0250040184006000" 1
}

f_run_cases missing read_only held held_briefly empty large no_folder top_write top_erase read_fails pipe_source \
    read_targets empty_name ff_skipped
