#!/usr/bin/env bash
# Japanese parameter texts typed into the service panel reach the device as code page
# 932 bytes, whatever the system code page (this prefix runs an English locale); a
# text longer than the console's 255-byte buffer is cut before a whole character, and
# texts that the 256-byte block cannot hold are refused.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly REQUEST62_SENT="T-  7 0262000003670D"
readonly BLOCK_ADDRESS=$((0xE200))

# repeat TEXT N: TEXT N times.
repeat() {
    local out='' i
    for ((i = 0; i < $2; i++)); do out+=$1; done
    printf '%s' "$out"
}

# block_hex: the device's parameter block (256 bytes at E200) as upper-case hex.
block_hex() {
    tail -c +$((BLOCK_ADDRESS + 1)) "$E2E_DUMP" 2>/dev/null | head -c 256 | od -An -v -tx1 |
        tr -d ' \n' | tr a-f A-F
}

# press_block K EXPECTED_HEX: presses "param K" and waits until the device holds a
# block starting with EXPECTED_HEX.
press_block() {
    local k=$1 want=$2
    tq_drive run $((kIdParamBlock0 + k)) "$REQUEST62_SENT" 20 >/dev/null ||
        e2e_fail "the parameter-block chain of block $k did not end with request 0x62"
    block_starts() { [[ $(block_hex) == "$want"* ]]; }
    tq_wait_until 10 block_starts ||
        e2e_fail "the device holds $(block_hex | cut -c1-48)... at E200, expected ${want:0:48}..."
}

# write_block K FIRST SECOND EXPECTED_HEX: sets the two texts of block K, then press_block.
write_block() {
    tq_drive settext $((kIdParamFirstText0 + $1)) "$2" settext $((kIdParamSecondText0 + $1)) "$3" >/dev/null ||
        e2e_fail "could not set the texts of block $1"
    press_block "$1" "$4"
}

# refused_block K FIRST SECOND NEEDED: the texts of block K need NEEDED bytes: the box
# says so and nothing reaches the line.
refused_block() {
    local sent
    sent=$(e2e_record_size)
    tq_drive settext $((kIdParamFirstText0 + $1)) "$2" settext $((kIdParamSecondText0 + $1)) "$3" \
        press $((kIdParamBlock0 + $1)) box "parameter block $1: the texts need $4 bytes, the block holds 256" 10 \
        >/dev/null || e2e_fail "block $1: no box for texts of $4 bytes"
    [[ $(e2e_record_size) == "$sent" ]] || e2e_fail "block $1: bytes reached the line"
}

e2e_begin shim
e2e_start_sim --flash-fill FF --flash-dump "$E2E_DUMP"
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdParamFirstText0" 1 10 >/dev/null ||
    e2e_fail "the service panel did not show"

# 日本 and half-width ｱｲ: 00, the second text's offset 2 * 2 + 3, 93FA 967B 00, B1B2 00.
write_block 0 "日本" "ｱｲ" "000793FA967B00B1B20000"

# Typed rather than set: the characters pass through the console's message loop, which
# must keep them UTF-16 on their way to the edit. 更新 and 完了: 8D58 9056, 8AAE 97B9.
first1=$((kIdParamFirstText0 + 1)) second1=$((kIdParamSecondText0 + 1))
tq_drive settext $first1 "" settext $second1 "" setfocus $first1 type "更新" setfocus $second1 type "完了" \
    text $first1 "更新" 5 text $second1 "完了" 5 >/dev/null || e2e_fail "the typed texts did not reach the edits"
press_block 1 "00078D589056008AAE97B900"

# 'A', 125 x 日 and 'B' fill the block's 256 bytes exactly: the second text's offset
# is 251 + 3, and both ends are there.
write_block 2 "A$(repeat 日 125)" "B" "00FE41$(repeat 93FA 125)004200"

# Texts that the block cannot hold are refused before anything is sent. 'A' and 127 x
# 日 fill the 255-byte text buffer exactly (259 bytes with the block's four); with 'AB'
# the last 日 no longer fits the buffer whole and is left out, never its lead byte
# alone: 254 bytes, 258 with the block's four.
refused_block 2 "A$(repeat 日 127)" "" 259
refused_block 3 "AB$(repeat 日 127)" "" 258

tq_drive nobox >/dev/null || e2e_fail "a box appeared"
e2e_close_panel
e2e_pass
