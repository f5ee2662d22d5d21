#!/usr/bin/env bash
# "farm udt" with a firmware path that names no file: the loader's box, then the log
# line for a file without model information, and nothing on the line.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin shim
e2e_start_sim
tq_start_panel "$(tq_windows_path "$TQ_WORK/no-such-firmware.mot")" || e2e_fail "the console did not start"
e2e_open_com1

tq_drive press "$kIdFarmUpdate" box "Cannot read S-Format file." 15 >/dev/null ||
    e2e_fail "no box for the unreadable file"
tq_drive waitlog "ﾌｧｰﾑﾌｧｲﾙに、機種情報がありません" 10 >/dev/null ||
    e2e_fail "no log line for the missing model information"
e2e_record_settle 1
e2e_expect_record ""
e2e_log_snapshot
e2e_expect_log_count "T-" 0

e2e_close_panel
e2e_pass
