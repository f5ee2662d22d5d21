#!/usr/bin/env bash
# "recovery" against a device already in boot mode (as after an interrupted update):
# the image is programmed without a model request and the flash holds it.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

e2e_begin shim
e2e_program_sample "$kIdRecovery" recovery --boot
e2e_expect_log_count "T-" 0
# The first byte on the line is the boot loader's erase command.
[[ $(e2e_record_hex) == 45* ]] || e2e_fail "the line did not start with an erase command"

e2e_close_panel
tq_stop_sim
e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
e2e_pass
