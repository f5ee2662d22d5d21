#!/usr/bin/env bash
# The service panel's verify buttons: "verify firmware" after "farm udt" finds every
# page the update wrote; "flash verify" after a flash write finds the flash equal (no
# box, the log and the status strip say so), then a file that differs in two bytes
# brings FLASH VERIFY 異常, the differing range in the log and a red strip. A verify
# sends no write.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

readonly SIZE=1024

e2e_begin shim
e2e_program_sample "$kIdFarmUpdate" update --flash-fill FF
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashVerify" 1 10 visible "$kIdFirmwareVerify" 1 10 >/dev/null ||
    e2e_fail "the verify buttons did not show"

status_text() { tq_drive gettext "$kIdStatusText" 2>/dev/null; }
status_starts() { [[ $(status_text) == "$1"* ]]; }

# "verify firmware": the sample's two pages.
tq_drive click "$kIdFirmwareVerify" >/dev/null || e2e_fail "could not start the firmware verify"
tq_wait_until 30 status_starts "firmware verify: 256 bytes equal in" ||
    e2e_fail "the firmware verify ended with \"$(status_text)\""
tq_drive nobox >/dev/null || e2e_fail "a box appeared for an equal firmware"

source_file=$TQ_WORK/source.bin
head -c $SIZE /dev/urandom >"$source_file"
tq_drive settext "$kIdStartAddressEdit" 4000h settext "$kIdLengthEdit" "" \
    settext "$kIdFileEdit" "$(tq_windows_path "$source_file")" \
    click "$kIdFlashWrite" text "$kIdLengthEdit" $SIZE 5 >/dev/null || e2e_fail "the write did not start"
tq_wait_until 30 status_starts "flash write 0x4000 complete" || e2e_fail "the write ended with \"$(status_text)\""

tq_drive click "$kIdFlashVerify" >/dev/null || e2e_fail "could not start the flash verify"
tq_wait_until 30 status_starts "flash verify 0x4000: 1,024 bytes equal in" ||
    e2e_fail "the flash verify ended with \"$(status_text)\""
tq_drive nobox >/dev/null || e2e_fail "a box appeared for an equal flash"

# Two neighbouring bytes of the file change: one range of two bytes at 0x42BC.
python3 - "$source_file" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[700] ^= 0x5A
data[701] ^= 0xA5
open(sys.argv[1], "wb").write(data)
PY
tq_drive click "$kIdFlashVerify" box "FLASH VERIFY" 30 >/dev/null ||
    e2e_fail "a differing file did not bring the verify box"
want="flash verify 0x4000: 2 of 1,024 bytes differ in 1 range, the first at 0x0042BC"
tq_wait_until 10 status_starts "$want" || e2e_fail "the status strip says \"$(status_text)\""

e2e_log_snapshot
e2e_expect_log_count "flash verify: the flash holds the file: $SIZE bytes compared" 1
e2e_expect_log_count "firmware verify: the flash holds the firmware file: 256 bytes compared" 1
e2e_expect_log_count "flash verify: 2 of $SIZE bytes differ from the file in 1 range; the first at 0x0042BC" 1
e2e_expect_log_count "flash verify: differs at 0x0042BC-0x0042BD (2 bytes)" 1
# Only the write sent write requests: four chunks of 256 bytes.
writes=$(grep -cE '^T-[ 0-9]+ 0250[0-9A-F]{4}84' "$E2E_LOG")
[[ $writes == 4 ]] || e2e_fail "$writes write requests in the log, expected the write's 4"

e2e_close_panel
tq_stop_sim
e2e_pass
