#!/usr/bin/env bash
# "farm udt" with the sample firmware against a device that accepts its model: the
# model request goes out, the device says yes, the image is programmed in boot mode,
# the log ends with the success line and the device flash holds the image.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

model_frame=$(e2e_model_frame "$E2E_SAMPLE") || e2e_fail "the sample has no model record"

e2e_begin shim
e2e_program_sample "$kIdFarmUpdate" update
# The console keeps its texts in code page 932: 更新完了 is 8D 58 90 56 8A AE 97 B9.
log_hex=$(tq_drive loghex) || e2e_fail "could not read the log as CP932"
grep -qx 8D5890568AAE97B9 <<<"$log_hex" || e2e_fail "the success line is not the CP932 text"
# The model request is the only application-mode frame of an update.
e2e_expect_log_count "T-" 1
e2e_expect_log_count "T-  7 $model_frame" 1
e2e_expect_log_count "R-  7 0230000003350D" 1
[[ $(e2e_record_hex) == "$model_frame"* ]] || e2e_fail "the line did not start with the model request"

e2e_close_panel
tq_stop_sim
e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
e2e_pass
