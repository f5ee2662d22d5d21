#!/usr/bin/env bash
# "farm udt" against a device of another model: the refusal is logged and nothing but
# the model request reaches the line. The console is started without a firmware path,
# so the file is "enc73.mot" in its working folder.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

model_frame=$(e2e_model_frame "$E2E_SAMPLE") || e2e_fail "the sample has no model record"
other_model=q
[[ $model_frame == 0271* ]] && other_model=r

e2e_begin shim
e2e_start_sim --model "$other_model"
export TQ_PANEL_CWD=$TQ_WORK/cwd
mkdir -p "$TQ_PANEL_CWD"
cp "$E2E_SAMPLE" "$TQ_PANEL_CWD/enc73.mot"
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1

tq_drive press "$kIdFarmUpdate" waitlog "機種が適合しません" 15 >/dev/null ||
    e2e_fail "no refusal line in the log"
e2e_record_settle 1
e2e_expect_record "$model_frame"
e2e_log_snapshot
e2e_expect_log_count "T-" 1
e2e_expect_log_count "T-  7 $model_frame" 1
e2e_expect_log_count "R- " 1
e2e_expect_log_count "更新" 0

e2e_close_panel
e2e_pass
