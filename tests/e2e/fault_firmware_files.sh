#!/usr/bin/env bash
# Firmware files that are not what "farm udt" expects, made at test time in the
# scenario's scratch folder and given to one console as its command-line path (the file
# is read anew at every press): empty, binary, with 130-character lines, 10 MB of
# records, with S2 records above 0xFFFF, with CR-only line ends, and with a record whose
# checksum is wrong (a Yes/No box that names its line; nothing is sent unless the
# answer is Yes). For each: the
# console says what it did within the case's bound (the loader's box and the no-model
# line, or the update's result), its window answers every 100 ms throughout, nothing
# reaches the line for a file it cannot read, the flash holds exactly the image's bytes
# that a device can take, and the next good file updates the device.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"
e2e_need_sample

e2e_begin shim
fw=$TQ_WORK/fw.mot
clean=$TQ_WORK/clean.mot
tr -d '\r' <"$E2E_SAMPLE" >"$clean"
cp "$clean" "$fw"
f_sim
f_start_panel "$(tq_windows_path "$fw")"
e2e_open_com1

# An S-record line: TYPE ADDRESS-HEX DATA-HEX, with its count and checksum.
srec() {
    local type=$1 addr=$2 data=$3
    local count=$(((${#addr} + ${#data}) / 2 + 1)) sum i
    sum=$count
    for ((i = 0; i < ${#addr}; i += 2)); do sum=$((sum + 16#${addr:i:2})); done
    for ((i = 0; i < ${#data}; i += 2)); do sum=$((sum + 16#${data:i:2})); done
    printf 'S%s%02X%s%s%02X\n' "$type" "$count" "$addr" "$data" $((~sum & 0xFF))
}

make_empty() { : >"$fw"; }
make_binary() { { printf '\0'; head -c 4095 /dev/urandom; } >"$fw"; }
make_long_lines() {
    # Legal S1 records of 60 data bytes: 130 characters before the line end.
    {
        echo TQ1
        srec 1 3000 "$(printf '5A%.0s' $(seq 60))"
        srec 1 303C "$(printf 'A5%.0s' $(seq 60))"
        echo S9033000CC
    } >"$fw"
}
make_10mb() {
    # The sample's records again and again, about 10 MB, then its end record.
    local body
    body=$(grep '^S1' "$clean")
    {
        echo TQ1
        yes "$body" | head -n $((8 * 32000))
        echo S9033000CC
    } >"$fw"
    (($(stat -c %s "$fw") >= 10000000)) || f_fail "the 10 MB file has $(stat -c %s "$fw") bytes"
}
make_s2_high() {
    # The sample, and S2 records that lie above 0xFFFF or run past it: only bytes
    # below 0x10000 belong to the image (and 0xFFF8 is in a block never programmed).
    {
        grep -v '^S9' "$clean"
        srec 2 010000 "$(printf '11%.0s' $(seq 16))"
        srec 2 01FFF0 "$(printf '22%.0s' $(seq 16))"
        srec 2 FFFFF0 "$(printf '33%.0s' $(seq 16))"
        srec 2 00FFF8 "$(printf '44%.0s' $(seq 16))"
        grep '^S9' "$clean"
    } >"$fw"
}
make_cr_only() { tr '\n' '\r' <"$clean" >"$fw"; }

# A file the loader cannot read: its box, the no-model line, nothing on the line.
unreadable_case() {
    "make_$1"
    local before
    before=$(e2e_record_size)
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdFarmUpdate" sleep 1 >/dev/null || f_fail "could not press farm udt"
    # The watch ends while the box is up: under Wine on a display without a window
    # manager, the UI thread stalls about 2 s as a box it owns is taken down (measured
    # 1996 ms), whatever the program; that is not the console's doing.
    f_watch_end
    f_within "$2" "no box for the unreadable file" box "Cannot read S-Format file." "$2"
    f_within 5 "no line for the missing model" waitlog "ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません" 5
    f_log_has "T-" 0
    [[ $(e2e_record_size) == "$before" ]] || f_fail "bytes reached the line"
}

# A file the loader reads: the update completes and the flash holds the clean image.
update_case() {
    "make_$1"
    f_sim
    f_clear_log
    f_watch_begin
    tq_drive press "$kIdFarmUpdate" >/dev/null || f_fail "could not press farm udt"
    f_within "$2" "the update did not complete" waitlog "更新完了|更新失敗" "$2" nobox
    f_watch_end
    f_log_has "更新完了" 1
    f_dump_settled
    e2e_expect_flash "$clean" "$E2E_DUMP" 00
}

# The sample with its first data record's checksum off by one: the question names the
# line; No sends nothing, Yes programs the file as it is.
make_bad_checksum() {
    local line done=0
    : >"$fw"
    while IFS= read -r line; do
        if ((!done)) && [[ $line == S1* ]]; then
            printf '%s%02X\n' "${line:0:${#line}-2}" $((16#${line: -2} ^ 1)) >>"$fw"
            done=1
        else
            printf '%s\n' "$line" >>"$fw"
        fi
    done <"$clean"
    BAD_LINE=$(grep -n '^S1' "$fw" | head -n 1 | cut -d: -f1)
}
case_bad_checksum() {
    make_bad_checksum
    local before
    before=$(e2e_record_size)
    f_clear_log
    f_within 5 "no question for the damaged file" press "$kIdFarmUpdate" \
        ask "damaged at line $BAD_LINE: the checksum does not match the record" no 5
    tq_drive sleep 1 nobox >/dev/null || f_fail "a box after the answer No"
    f_log_has "T-" 0
    [[ $(e2e_record_size) == "$before" ]] || f_fail "bytes reached the line after No"
    f_sim
    f_clear_log
    f_within 15 "the update did not complete after Yes" press "$kIdFarmUpdate" ask "line $BAD_LINE" yes 5 \
        waitlog "更新完了|更新失敗" 15 nobox
    f_log_has "更新完了" 1
}

case_empty() { unreadable_case empty 5; }
case_binary() { unreadable_case binary 5; }
case_long_lines() { unreadable_case long_lines 5; }
case_10mb() { update_case 10mb 30; }
case_s2_high() { update_case s2_high 15; }
case_cr_only() { update_case cr_only 15; }

f_run_cases empty binary long_lines 10mb s2_high cr_only bad_checksum
