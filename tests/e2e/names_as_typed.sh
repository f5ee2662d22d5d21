#!/usr/bin/env bash
# File names and texts exactly as typed, on a Western system code page (the prefix's
# ANSI code page is checked to be 1252, not 932): a firmware file in a folder with a
# blank, named in Japanese, Greek and accented letters, given on the command line (Wine
# quotes it, as Windows does) and programmed with "farm udt"; flash writes from and
# reads into such names through the panel, each file the one named and no other file
# made; a name longer than 255 characters refused with OPEN ERROR and nothing sent; a
# parameter text with a character that code page 932 lacks refused with nothing on the
# wire, and a Japanese one stored as its CP932 bytes; tq73.exe reading into and writing
# from such names.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

CLI_EXE=${TQ_CLI_EXE:-$(dirname "$TQ_PANEL_EXE")/tq73.exe}

e2e_begin shim
tq_drive codepage >"$TQ_WORK/codepage.txt" || e2e_fail "could not ask the code pages"
read -r acp oemcp <"$TQ_WORK/codepage.txt"
e2e_note "system code pages under Wine: ANSI $acp, OEM $oemcp"
[[ $acp == 1252 ]] || e2e_fail "the prefix's ANSI code page is $acp, not the Western 1252"

names=$TQ_WORK/names
fw_dir="$names/Ελλάδα fw"
fw="$fw_dir/データ Jérôme.mot"
mkdir -p "$fw_dir"
cp "$E2E_SAMPLE" "$fw"

# The firmware path with a blank: Wine hands it on in double quotes.
e2e_start_sim --flash-fill FF --flash-dump "$E2E_DUMP"
tq_start_panel "$(tq_windows_path "$fw")" || e2e_fail "the console did not start"
e2e_open_com1
tq_drive press "$kIdFarmUpdate" watch "更新完了|更新失敗|Cannot read" 90 | sed 's/^/  log: /' ||
    e2e_fail "the update from $fw did not finish"
e2e_log_snapshot
e2e_expect_log_count "更新完了" 1
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashWrite" 1 10 >/dev/null ||
    e2e_fail "the service panel did not show"

dump_hex() {  # OFFSET COUNT
    tail -c +$(($1 + 1)) "$E2E_DUMP" 2>/dev/null | head -c "$2" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F
}
flash_holds() { [[ $(dump_hex "$1" 256) == "$(tq_hex "$2")" ]]; }
read_done() { [[ -f $1 && $(stat -c %s "$1") == 256 ]]; }

# Flash writes from three names, each to its own 256 bytes.
sources=("Jérôme.bin" "データ.bin" "Ελλάδα.bin")
addresses=(0x20000 0x20100 0x20200)
for i in 0 1 2; do
    head -c 256 /dev/urandom >"$names/${sources[i]}"
    tq_drive settext "$kIdStartAddressEdit" "$(printf '%Xh' "${addresses[i]}")" settext "$kIdLengthEdit" "" \
        settext "$kIdFileEdit" "$(tq_windows_path "$names/${sources[i]}")" \
        click "$kIdFlashWrite" text "$kIdLengthEdit" 256 5 >/dev/null ||
        e2e_fail "the write from ${sources[i]} did not start with the file's size"
    tq_wait_until 30 flash_holds "${addresses[i]}" "$names/${sources[i]}" ||
        e2e_fail "the flash at ${addresses[i]} does not hold ${sources[i]}"
done

# Reads into three new names; "Zoë.bin" must not become "Zoe.bin".
targets=("Zoë.bin" "読込データ.bin" "Ελλάδα-2.bin")
for i in 0 1 2; do
    tq_drive settext "$kIdStartAddressEdit" "$(printf '%Xh' "${addresses[i]}")" settext "$kIdLengthEdit" 256 \
        settext "$kIdFileEdit" "$(tq_windows_path "$names/${targets[i]}")" click "$kIdFlashRead" >/dev/null ||
        e2e_fail "could not start the read into ${targets[i]}"
    tq_wait_until 30 read_done "$names/${targets[i]}" || e2e_fail "the read made no 256-byte ${targets[i]}"
    cmp -s "$names/${sources[i]}" "$names/${targets[i]}" || e2e_fail "${targets[i]} differs from ${sources[i]}"
done
sleep 1
tq_drive nobox >/dev/null || e2e_fail "a box appeared during the transfers"

# expect_files NAME...: the folder holds exactly these names.
expect_files() {
    local want got
    want=$(printf '%s\n' "$@" | LC_ALL=C sort)
    got=$(ls -A "$names" | LC_ALL=C sort)
    [[ $got == "$want" ]] || e2e_fail "the folder holds: $(echo $got), expected: $(echo $want)"
}
expect_files "Ελλάδα fw" "${sources[@]}" "${targets[@]}"

# A name longer than the 255 characters of the field: refused whole, nothing sent.
long_name="$names/$(printf 'é%.0s' $(seq 240)).bin"
before=$(e2e_record_size)
tq_drive settext "$kIdFileEdit" "$(tq_windows_path "$long_name")" \
    click "$kIdFlashWrite" box "OPEN ERROR" 10 >/dev/null ||
    e2e_fail "a name of more than 255 characters did not bring OPEN ERROR"
tq_drive settext "$kIdStartAddressEdit" 0 settext "$kIdLengthEdit" 256 \
    click "$kIdFlashRead" box "WRITE ERROR" 10 >/dev/null ||
    e2e_fail "a read into a name of more than 255 characters did not bring WRITE ERROR"
e2e_log_snapshot
e2e_expect_log_count "flash write: the file name is longer than the 255 characters the console takes: nothing was opened" 1
e2e_expect_log_count "flash read: the file name is longer than the 255 characters" 1
e2e_record_settle 1
[[ $(e2e_record_size) == "$before" ]] || e2e_fail "a refused name sent bytes"
expect_files "Ελλάδα fw" "${sources[@]}" "${targets[@]}"

# A parameter text with ά (U+03AC), which code page 932 lacks: refused before the stop.
tq_drive settext "$kIdParamFirstText0" "Ελλάδα" settext "$kIdParamSecondText0" "x" click "$kIdParamBlock0" \
    box 'parameter block 0: text 1 "Ελλάδα" holds "ά" (U+03AC)' 10 >/dev/null ||
    e2e_fail "the Greek parameter text was not refused with its character named"
e2e_record_settle 1
[[ $(e2e_record_size) == "$before" ]] || e2e_fail "the refused parameter text sent bytes"

# A Japanese text: the block holds its CP932 bytes (83 66 81 5B 83 5E) exactly.
block_expected=0009836681 block_rest=5B835E00780000
want=$(printf '%s%s' "$block_expected" "$block_rest"; printf '00%.0s' $(seq $((256 - 12))))
block_written() { [[ $(dump_hex $((0xE200)) 256) == "$want" ]]; }
tq_drive settext "$kIdParamFirstText0" "データ" click "$kIdParamBlock0" >/dev/null ||
    e2e_fail "could not start the Japanese parameter block"
tq_wait_until 30 block_written || e2e_fail "the block at 0xE200 holds $(dump_hex $((0xE200)) 16)..., expected $want"
tq_drive nobox >/dev/null || e2e_fail "a box appeared after the Japanese parameter block"
sleep 1
e2e_close_panel

# tq73.exe: a read into and a write from such names, with the console closed.
[[ -f $CLI_EXE ]] || e2e_fail "no tq73.exe at $CLI_EXE"
cli() {
    local name=$1
    shift
    CLI_RC=0
    (cd "$names" && timeout 120 "$TQ_WINE_LOADER" "$CLI_EXE" "$@" 9>&-) \
        >"$TQ_WORK/$name.out" 2>"$TQ_WORK/$name.err" || CLI_RC=$?
    sed "s/^/  $name: /" "$TQ_WORK/$name.out" "$TQ_WORK/$name.err"
}
cli read --quiet --port COM1 read 20100h 256 "Zoë データ Ελλάδα.bin"
[[ $CLI_RC == 0 ]] || e2e_fail "tq73.exe read ended with $CLI_RC"
cmp -s "$names/データ.bin" "$names/Zoë データ Ελλάδα.bin" || e2e_fail "tq73.exe read into another file"
cli write --quiet --port COM1 write 20300h "$(tq_windows_path "$names/Jérôme.bin")"
[[ $CLI_RC == 0 ]] || e2e_fail "tq73.exe write ended with $CLI_RC"
tq_wait_until 10 flash_holds 0x20300 "$names/Jérôme.bin" || e2e_fail "tq73.exe did not write Jérôme.bin"
expect_files "Ελλάδα fw" "${sources[@]}" "${targets[@]}" "Zoë データ Ελλάδα.bin"

tq_stop_sim
# The update's flash, less the parameter block that the chain wrote at 0xE200.
cp "$E2E_DUMP" "$TQ_WORK/flash-update.bin"
head -c 256 /dev/zero | tr '\0' '\377' |
    dd of="$TQ_WORK/flash-update.bin" bs=1 seek=$((0xE200)) conv=notrunc status=none
e2e_expect_flash "$E2E_SAMPLE" "$TQ_WORK/flash-update.bin" FF
e2e_pass
