#!/usr/bin/env bash
# The lines and boxes of a failed read name its file as typed: a Japanese path, an
# accented one and a long one (230 characters) in the ".partial" line and box, and the
# target in the box of a read that got nothing; none comes out garbled or blank.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

# fresh_sim: a device that answers the first read request and refuses every later one.
fresh_sim() {
    if [[ -n ${TQ_PANEL_PID:-} ]]; then
        tq_drive press "$kIdClose" enabled "$kIdPortEdit" 1 15 >/dev/null || e2e_fail "close did not end the session"
    fi
    tq_stop_sim
    e2e_start_sim --flash-fill 00 --fault 50.04:refuse:0:2
    e2e_open_com1
}

# read_into FILE BOXTEXT: a read of 0x300 bytes into FILE; its box must hold BOXTEXT.
read_into() {
    tq_drive press "$kIdClearLog" settext "$kIdStartAddressEdit" 4000h settext "$kIdLengthEdit" 300h \
        settext "$kIdFileEdit" "$(tq_windows_path "$1")" press "$kIdFlashRead" box "$2" 15 >/dev/null ||
        e2e_fail "the read into $1 brought no box holding \"$2\""
    e2e_log_snapshot
}

partial_line() {
    e2e_expect_log_count "flash read: the 256 bytes read before the failure are in $(tq_windows_path "$1").partial; the file was not changed" 1
    [[ -f $1.partial ]] || e2e_fail "no partial file beside $1"
}

e2e_begin shim
tq_start_panel || e2e_fail "the console did not start"
fresh_sim

japanese="$TQ_WORK/山田/デスクトップ/dump.bin"
accented="$TQ_WORK/Jérôme Noël/dump.bin"
mkdir -p "$(dirname "$japanese")" "$(dirname "$accented")"
read_into "$japanese" "FLASH READ 異常"$'\n'"The 256 bytes read before the failure are in $(tq_windows_path "$japanese").partial"
partial_line "$japanese"
# The device now refuses the first chunk: nothing read, and the box names the target.
read_into "$accented" "Nothing was read: $(tq_windows_path "$accented") was not changed."
[[ ! -e $accented.partial ]] || e2e_fail "a read that got nothing made a partial file"

# A long path: the box and the line hold all of it (before, such a box came out empty).
long=$TQ_WORK
while (($(printf '%s' "$(tq_windows_path "$long")" | wc -m) < 210)); do long+="/フォルダ Jérôme"; done
mkdir -p "$long"
long+=/long.bin
e2e_note "long path: $(printf '%s' "$(tq_windows_path "$long")" | wc -m) characters"
fresh_sim
read_into "$long" "are in $(tq_windows_path "$long").partial; the file was not changed."
partial_line "$long"

e2e_close_panel
tq_stop_sim
e2e_pass
