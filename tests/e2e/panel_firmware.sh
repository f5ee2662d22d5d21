#!/usr/bin/env bash
# The firmware file in the window. Started from another folder with no argument, the
# firmware edit is empty and "farm udt" loads the enc73.mot beside the program: its
# log line names that file, its model record, its pages and the SHA-256 of its bytes.
# The edit then names a file in a Japanese and accented folder, which "verify firmware"
# loads and names as typed; a file that is not there gets the loader's line and box,
# and nothing is sent.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

e2e_begin shim
app=$TQ_WORK/app
mkdir -p "$app" "$TQ_WORK/elsewhere"
cp "$TQ_PANEL_EXE" "$app/" && cp "$E2E_SAMPLE" "$app/enc73.mot" || e2e_fail "could not copy the program"
e2e_start_sim --flash-dump "$E2E_DUMP"
TQ_PANEL_EXE=$app/tq73panel.exe TQ_PANEL_CWD=$TQ_WORK/elsewhere tq_start_panel || e2e_fail "the console did not start"
tq_drive text "$kIdFirmwareEdit" "" 5 >/dev/null || e2e_fail "the firmware edit is not empty without an argument"
e2e_open_com1
tq_drive press "$kIdFarmUpdate" watch "更新完了|更新失敗" 90 >/dev/null || e2e_fail "the update did not finish"
e2e_log_snapshot
e2e_expect_log_count "更新完了" 1
sha=$(sha256sum "$E2E_SAMPLE" | cut -d' ' -f1)
e2e_expect_log_count "firmware file $(tq_windows_path "$app/enc73.mot"): model record TQ1, 2 pages, SHA-256 $sha" 1

# Another file, named in the edit: its own bytes (a line after the end record).
folder="$TQ_WORK/ファーム Jérôme"
mkdir -p "$folder"
{ cat "$E2E_SAMPLE"; printf 'kept after the end record\r\n'; } >"$folder/fw.mot"
sha=$(sha256sum "$folder/fw.mot" | cut -d' ' -f1)
tq_drive press "$kIdClearLog" settext "$kIdFirmwareEdit" "$(tq_windows_path "$folder/fw.mot")" \
    press "$kIdFirmwareVerify" waitlog "firmware verify: the flash holds" 30 >/dev/null ||
    e2e_fail "the firmware verify of the edit's file did not end equal"
e2e_log_snapshot
e2e_expect_log_count "firmware file $(tq_windows_path "$folder/fw.mot"): model record TQ1, 2 pages, SHA-256 $sha" 1
e2e_expect_log_count "SHA-256" 1

sent=$(e2e_record_size)
tq_drive press "$kIdClearLog" settext "$kIdFirmwareEdit" "$(tq_windows_path "$folder/missing.mot")" \
    press "$kIdFarmUpdate" box "Cannot read S-Format file." 10 >/dev/null || e2e_fail "a missing file brought no box"
e2e_log_snapshot
e2e_expect_log_count "firmware file $(tq_windows_path "$folder/missing.mot") cannot be read: it does not exist" 1
e2e_record_settle 1
[[ $(e2e_record_size) == "$sent" ]] || e2e_fail "something was sent for a file that is not there"

e2e_close_panel
e2e_pass
