#!/usr/bin/env bash
# The device goes silent in the middle of an operation: a flash write, a flash read, each
# step of the parameter-block chain, a firmware update in boot mode, the pattern sequence.
# For each case: the console says so within the case's bound (a log line, the
# operation's box), its window answers every 100 ms throughout, the device's flash holds
# what it took and nothing sent after the silence, and once the device answers again the
# next operation works in the same console.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"
e2e_need_sample

e2e_begin shim
f_sim
f_open_panel "$(tq_windows_path "$E2E_SAMPLE")"

source_file=$TQ_WORK/source.bin
read_file=$TQ_WORK/read.bin
head -c 4096 /dev/urandom >"$source_file"
readonly WRITE_T=T-267\ 025004018400  # a 256-byte flash write request, as logged
readonly REQUEST62=0262000003670D
readonly BLOCK_HEX=0005414200430000   # parameter block 'AB' 'C', first 8 bytes

# Silent from the 5th 256-byte write on: four chunks answered; the fifth is taken by the
# device but never answered; nothing after it is sent.
case_write() {
    f_sim --flash-fill 00 --fault 50.84:silent:0:5
    f_clear_log
    f_watch_begin
    f_transfer "$kIdFlashWrite" 20000h "" "$source_file"
    f_within 12 "no silence line and box" \
        waitlog "flash write: no answer at 0x020400 within 5 s" 12 box "FLASH WRITE 異常" 5
    f_watch_end
    f_log_has "$WRITE_T" 5
    f_flash_is 0x20000 "$(f_file_hex "$source_file" 0 1280)" "the chunks sent"
    f_flash_is 0x20500 "$(f_fill_hex 00 2816)" "the chunks not sent"
    f_recover
    f_press_idle "$kIdFlashWrite"
    f_within 20 "the next write did not complete" waitlog "R-  7 0230" 5 nobox
    tq_wait_until 20 f_flash_matches_source || f_fail "the next write did not reach the flash"
}
f_flash_matches_source() { [[ $(f_dump_hex 0x20000 4096) == "$(f_file_hex "$source_file")" ]]; }

# Silent from the 3rd read: two chunks read, kept in FILE.partial; the file is not made.
case_read() {
    f_sim --flash-fill 5A --fault 50.04:silent:0:3
    f_clear_log
    rm -f "$read_file" "$read_file.partial"
    f_watch_begin
    f_transfer "$kIdFlashRead" 3000h 2048 "$read_file"
    # The chunk is asked twice again, each time with the 5 s bound.
    f_within 22 "no silence line and box" \
        waitlog "flash read: no answer at 0x003200 within 5 s" 22 box "FLASH READ 異常" 5
    f_watch_end
    tq_wait_until 5 test -f "$read_file.partial" || f_fail "the read made no partial file"
    [[ ! -e $read_file ]] || f_fail "the failed read made the file"
    [[ $(f_file_hex "$read_file.partial") == "$(f_fill_hex 5A 512)" ]] ||
        f_fail "the partial file does not hold exactly the chunks read"
    f_recover
    rm -f "$read_file"
    f_press_idle "$kIdFlashRead"
    tq_wait_until 20 f_read_complete || f_fail "the next read did not complete"
    tq_drive nobox >/dev/null || f_fail "a box after the next read"
}
f_read_complete() { [[ -f $read_file && $(f_file_hex "$read_file") == "$(f_fill_hex 5A 2048)" ]]; }

# The parameter-block chain, silent at its STEP (stop, erase or write).
chain_case() {
    local step=$1
    f_clear_log
    f_watch_begin
    tq_drive settext "$kIdParamFirstText0" AB settext "$kIdParamSecondText0" C press "$kIdParamBlock0" >/dev/null ||
        f_fail "could not start the chain"
    case $step in
        stop)
            f_within 8 "no line for the unanswered stop" \
                waitlog "parameter block: no answer to the stop request" 8 nobox
            ;;
        erase)
            f_within 12 "no silence line and box" \
                waitlog "flash erase: no answer at 0x00E200 within 5 s" 12 box "FLASH ERASE 異常" 5
            ;;
        write)
            f_within 12 "no silence line and box" \
                waitlog "flash write: no answer at 0x00E200 within 5 s" 12 box "FLASH WRITE 異常" 5
            ;;
    esac
    [[ $step == stop ]] || f_within 3 "no line for the end of the chain" \
        waitlog "parameter block: the device stopped answering: the chain ends" 3
    # Nothing goes out after the silence: the chain has ended.
    tq_drive sleep 1.5 nobox >/dev/null || f_fail "a further box after the silence"
    f_watch_end
    f_log_has "T-  7 $REQUEST62" 0
}

case_chain_stop() {
    f_sim --fault 60:silent
    chain_case stop
    f_log_has "T-  7 0260000003650D" 3
    f_log_has "T- 13 0250" 0
    f_flash_is 0xE200 "$(f_fill_hex 00 256)" "the block was touched"
    chain_next
}

case_chain_erase() {
    f_sim --fault 50.44:silent
    chain_case erase
    f_log_has "T-267 025004018400E200" 0
    # The device took the erase without answering it.
    f_flash_is 0xE200 "$(f_fill_hex FF 256)" "the erased block"
    chain_next
}

case_chain_write() {
    f_sim --fault 50.84:silent
    chain_case write
    f_log_has "T-267 025004018400E200" 1
    chain_next
}

# Once the device answers, the same chain runs through to request 0x62.
chain_next() {
    f_recover
    f_clear_log
    f_press_idle "$kIdParamBlock0"
    f_within 15 "the next chain did not end with request 0x62" waitlog "T-  7 $REQUEST62" 15 nobox
    tq_wait_until 5 f_block_written || f_fail "the next chain did not write the block"
}
f_block_written() { [[ $(f_dump_hex 0xE200 8) == "$BLOCK_HEX" ]]; }

# Firmware update, silent at the second page's data: the run ends with result 6 and the
# end byte; the first page is programmed, the second is not.
case_update_data() {
    f_sim --boot-fault data:silent:0:2
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdFarmUpdate" >/dev/null || f_fail "could not press farm udt"
    f_within 15 "no failure line" waitlog "更新失敗 err: 06" 15 nobox
    f_watch_end
    f_log_has "更新完了" 0
    f_flash_is 0x3000 "$(f_file_hex "$TQ_WORK/page3000.bin")$(f_fill_hex FF 896)" "the first block"
    f_flash_is 0xA000 "$(f_fill_hex FF 8192)" "the erased block not written"
    f_flash_is 0x4000 "$(f_fill_hex 00 256)" "flash outside the blocks"
    f_recover
    f_clear_log
    f_press_idle "$kIdFarmUpdate"
    f_within 20 "the next update did not complete" waitlog "更新完了|更新失敗" 20 nobox
    f_log_has "更新完了" 1
    tq_stop_sim
    e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
}

# Firmware update, silent at the first block erase: result 1, no end byte, so the device
# stays in boot mode; "recovery" then programs it.
case_update_erase() {
    f_sim --boot-fault erase:silent:0:1
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdFarmUpdate" >/dev/null || f_fail "could not press farm udt"
    f_within 10 "no failure line" waitlog "更新失敗 err: 01" 10 nobox
    f_watch_end
    f_flash_is 0x3000 "$(f_fill_hex FF 1024)" "the block whose erase went unanswered"
    f_flash_is 0xA000 "$(f_fill_hex 00 256)" "the block never erased"
    f_recover
    f_clear_log
    f_press_idle "$kIdRecovery"
    f_within 20 "recovery did not complete" waitlog "更新完了|更新失敗" 20 nobox
    f_log_has "更新完了" 1
    tq_stop_sim
    e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
}

# The pattern sequence against a device that answers no pattern: the console says so
# once, and "pattern stop" ends the sequence within its bound.
case_pattern() {
    f_sim --fault 50.83:silent
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdSequenceStart" >/dev/null || f_fail "could not start the pattern sequence"
    f_within 6 "no line for the unanswered pattern" waitlog "pattern: no answer within 1 s" 6
    tq_drive press "$kIdSequenceStop" >/dev/null || f_fail "could not stop the pattern sequence"
    f_within 3 "the sequence did not stop" waitlog "停止!!" 3 nobox
    f_watch_end
    f_log_has "pattern: no answer" 1
    f_recover
    f_clear_log
    f_press_idle "$kIdReadClock"
    f_within 5 "the next request got no answer" waitlog "R- 13 023006" 5 nobox
}

# The sample's first page: 0x3000 to 0x303F from the file, the rest of the page FF.
{
    tr -d '\r' <"$E2E_SAMPLE" | awk '/^S1133/ { print substr($0, 9, 32) }' | xxd -r -p
    head -c 64 /dev/zero | tr '\0' '\377'
} >"$TQ_WORK/page3000.bin"

f_run_cases write read chain_stop chain_erase chain_write update_data update_erase pattern
