#!/usr/bin/env bash
# A refusal at every step of every operation: the device answers, but with a status
# other than "0" (application mode), or with a wrong or error reply (boot mode). The
# table below names each step, the simulator's fault, and what the operator must see;
# for each row the window answers every 100 ms throughout, the row ends within its
# bound, the flash holds only what the device acknowledged, and once the device takes
# requests again the next operation works in the same console.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"
e2e_need_sample

model_frame=$(e2e_model_frame "$E2E_SAMPLE") || e2e_fail "the sample has no model record"
other_model=q
[[ $model_frame == 0271* ]] && other_model=r

e2e_begin shim
f_sim
f_open_panel "$(tq_windows_path "$E2E_SAMPLE")"

source_file=$TQ_WORK/source.bin
read_file=$TQ_WORK/read.bin
size_file=$TQ_WORK/size256.bin
head -c 2048 /dev/urandom >"$source_file"
head -c 256 /dev/zero >"$size_file"
readonly REFUSED=R-\ \ 7\ 0231000003360D   # the device's refusal, as logged
readonly REQUEST62=0262000003670D
readonly BLOCK_HEX=0005414200430000000000000000000000000000000000000000000000000000

# ---- the operations, each with what a refusal leaves -------------------------------

# The third of eight write chunks is refused: two written, the rest never sent.
row_write() {
    f_transfer "$kIdFlashWrite" 20000h "" "$source_file"
    f_within 10 "no box" box "FLASH WRITE 異常" 10
    f_log_has "T-267 025004018400" 3
    f_flash_is 0x20000 "$(f_file_hex "$source_file" 0 512)$(f_fill_hex 00 1536)" "the chunks"
}
next_write() {
    f_press_idle "$kIdFlashWrite"
    tq_wait_until 15 f_source_written || f_fail "the next write did not reach the flash"
}
f_source_written() { [[ $(f_dump_hex 0x20000 2048) == "$(f_file_hex "$source_file")" ]]; }

# The second of four read chunks is refused; the file is not made, and the chunk read
# is in FILE.partial.
row_read() {
    rm -f "$read_file" "$read_file.partial"
    f_transfer "$kIdFlashRead" 3000h 1024 "$read_file"
    f_within 10 "no box" box "FLASH READ 異常" 10
    f_log_has "T- 13 02500600040" 2
    tq_wait_until 5 test -f "$read_file.partial" || f_fail "no partial file"
    [[ ! -e $read_file ]] || f_fail "the refused read made the file"
    [[ $(f_file_hex "$read_file.partial") == "$(f_fill_hex 5A 256)" ]] ||
        f_fail "the partial file does not hold exactly the chunk read"
}
next_read() {
    rm -f "$read_file"
    f_press_idle "$kIdFlashRead"
    tq_wait_until 15 f_read_all || f_fail "the next read did not complete"
}
f_read_all() { [[ -f $read_file && $(f_file_hex "$read_file") == "$(f_fill_hex 5A 1024)" ]]; }

row_erase() {
    f_transfer "$kIdFlashErase" 3000h "" "$size_file"
    f_within 10 "no box" box "FLASH ERASE 異常" 10
    f_flash_is 0x3000 "$(f_fill_hex 00 256)" "the range refused"
}
next_erase() {
    f_press_idle "$kIdFlashErase"
    tq_wait_until 10 f_erased || f_fail "the next erase did not reach the flash"
}
f_erased() { [[ $(f_dump_hex 0x3000 256) == "$(f_fill_hex FF 256)" ]]; }

# The parameter-block chain; EXPECT is the box a refused step shows ("" for none).
# A refused stop still counts as an answer; a refused erase or write shows its box and
# the chain goes on to its next step; a refused 0x62 is only logged.
chain_row() {
    tq_drive settext "$kIdParamFirstText0" AB settext "$kIdParamSecondText0" C press "$kIdParamBlock0" >/dev/null ||
        f_fail "could not start the chain"
    if [[ -n $1 ]]; then
        f_within 10 "no box" box "$1" 10
    fi
    f_within 10 "the chain did not end with request 0x62" waitlog "T-  7 $REQUEST62" 10
    tq_drive sleep 0.5 nobox >/dev/null || f_fail "an unexpected box"
}
row_chain_stop() {
    chain_row ""
    f_log_has "T-  7 0260000003650D" 1
    f_flash_is 0xE200 "$BLOCK_HEX" "the block"
}
row_chain_erase() {
    chain_row "FLASH ERASE 異常"
    # The write went on over the range whose erase was refused (fill 00).
    f_flash_is 0xE200 "$BLOCK_HEX" "the block"
}
row_chain_write() {
    chain_row "FLASH WRITE 異常"
    f_flash_is 0xE200 "$(f_fill_hex FF 256)" "the erased block"
}
row_chain_62() {
    chain_row ""
    f_within 5 "no refusal of 0x62 in the log" waitlog "$REFUSED" 5
}
next_chain() {
    f_press_idle "$kIdParamBlock0"
    f_within 10 "the next chain did not end with request 0x62" waitlog "T-  7 $REQUEST62" 10 nobox
    tq_wait_until 5 f_block_written || f_fail "the next chain did not write the block"
}
f_block_written() { [[ $(f_dump_hex 0xE200 32) == "$BLOCK_HEX" ]]; }

row_ap_stop() {
    tq_drive press "$kIdApStop" >/dev/null
    f_within 5 "the refusal was not taken as the answer" waitlog "$REFUSED" 5 nobox
    tq_drive sleep 1 >/dev/null
    f_log_has "T-  7 0260000003650D" 1
}
row_direct() {  # ID: a request the dialog sends itself, refused
    tq_drive press "$1" >/dev/null
    f_within 5 "no refusal in the log" waitlog "$REFUSED" 5 nobox
}
next_request() {
    f_press_idle "$1"
    f_within 5 "the next request got no answer" waitlog "R- " 5 nobox
    f_log_has "$REFUSED" 0
}

row_pattern() {
    tq_drive press "$kIdSequenceStart" >/dev/null
    f_within 5 "the refused pattern is not in the log" waitlog "$REFUSED" 5
    tq_drive press "$kIdSequenceStop" >/dev/null
    f_within 5 "the sequence did not stop" waitlog "停止!!" 5 nobox
    f_log_has "pattern: no answer" 0
}

row_model() {
    tq_drive press "$kIdFarmUpdate" >/dev/null
    f_within 5 "no refusal line" waitlog "機種が適合しません" 5 nobox
    f_log_has "T-" 1
}

# Boot mode; RESULT is the update's failure code, or "" when the run completes.
update_row() {
    tq_drive press "$kIdFarmUpdate" >/dev/null
    if [[ -n $1 ]]; then
        f_within 15 "no failure line" waitlog "更新失敗 err: $1" 15 nobox
        f_log_has "更新完了" 0
    else
        f_within 15 "the update did not complete" waitlog "更新完了|更新失敗" 15 nobox
        f_log_has "更新完了" 1
    fi
}
# Status bytes that report a failure: every block and page is still tried, and the
# update fails with result 9 and a line that says what the device reported.
row_boot_erase() {
    update_row 09
    f_log_has "resp error **********  a0" 2
    f_log_has "update: the device reported 2 blocks not erased, the first at 0x3000" 1
    f_flash_is 0x3080 "$(f_fill_hex 00 128)" "the block the device did not erase"
}
row_boot_program() {
    update_row 09
    f_log_has "resp error **********  90" 2
    f_log_has "update: the device reported 2 pages not programmed, the first at 0x3000" 1
    f_flash_erased_only
}
row_boot_write() { update_row 03; f_log_has "err 55" 1; f_flash_erased_only; }
row_boot_addr() { update_row 05; f_flash_erased_only; }
row_boot_data() { update_row 07; f_flash_erased_only; }
f_flash_erased_only() {
    f_flash_is 0x3000 "$(f_fill_hex FF 1024)" "the first block"
    f_flash_is 0xA000 "$(f_fill_hex FF 8192)" "the second block"
    f_flash_is 0x4000 "$(f_fill_hex 00 256)" "flash outside the blocks"
}
f_flash_image() {
    f_dump_settled
    e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
}
next_update() {  # ID: farm udt (kIdFarmUpdate), or recovery (kIdRecovery) for a device left in boot mode
    f_press_idle "$1"
    f_within 15 "the next update did not complete" waitlog "更新完了|更新失敗" 15 nobox
    f_log_has "更新完了" 1
    f_flash_image
}

# A device whose write mode was refused is left in a state no command names; it is
# reset into its boot loader (the simulator restarted in boot mode) and recovered.
next_reset_recovery() {
    f_sim --boot
    f_clear_log
    next_update "$kIdRecovery"
}

# ---- the table: row | simulator options | the next operation ---------------------------
ROWS=(
    "write        | --fault 50.84:refuse:0:3                | next_write"
    "read         | --flash-fill 5A --fault 50.04:refuse:0:2 | next_read"
    "erase        | --fault 50.44:refuse                    | next_erase"
    "chain_stop   | --fault 60:refuse                       | next_chain"
    "chain_erase  | --fault 50.44:refuse                    | next_chain"
    "chain_write  | --fault 50.84:refuse                    | next_chain"
    "chain_62     | --fault 62:refuse                       | next_request $kIdRequest62"
    "ap_stop      | --fault 60:refuse                       | next_request $kIdApStop"
    "direct $kIdApResume | --fault 61:refuse                       | next_request $kIdApResume"
    "direct $kIdSetClock | --fault 20:refuse                       | next_request $kIdSetClock"
    "direct $kIdReadClock | --fault 21:refuse                       | next_request $kIdReadClock"
    "pattern      | --fault 50.83:refuse                    | next_request $kIdReadClock"
    "model        | --model $other_model                    | next_request $kIdApResume"
    "boot_erase   | --boot-fault erase:status:A0            | next_update $kIdFarmUpdate"
    "boot_write   | --boot-fault write:wrong:55             | next_reset_recovery"
    "boot_addr    | --boot-fault addr:wrong                 | next_update $kIdFarmUpdate"
    "boot_data    | --boot-fault data:wrong                 | next_update $kIdFarmUpdate"
    "boot_program | --boot-fault program:status:90          | next_update $kIdFarmUpdate"
)

# F_ONLY="write boot_addr ..." runs only the rows named (when looking into one).
for row in "${ROWS[@]}"; do
    IFS='|' read -r step options next <<<"$row"
    read -ra step <<<"$step"
    read -ra options <<<"$options"
    read -ra next <<<"$next"
    [[ -z ${F_ONLY:-} || " $F_ONLY " == *" ${step[0]} "* ]] || continue
    f_case "${step[*]}"
    # shellcheck disable=SC2086
    f_sim "${options[@]}"
    f_clear_log
    f_watch_begin
    "row_${step[0]}" "${step[@]:1}"
    f_watch_end
    f_recover
    f_clear_log
    "${next[@]}"
    e2e_note "case ${step[*]} passed ($((SECONDS - F_CASE_T0)) s)"
done

e2e_close_panel
e2e_pass
