#!/usr/bin/env bash
# "ap-stop": the wake byte 0x5C and the stop request 0x60, up to three times until the
# device answers.
# Argument: answering (one attempt) or silent (the device never answers: three).
set -u
mode=${1:-answering}
E2E_VARIANT=$mode # read by common.sh
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly STOP_FRAME=0260000003650D
readonly ATTEMPT=5C$STOP_FRAME

e2e_begin shim
case $mode in
    answering) e2e_start_sim ;;
    silent) e2e_start_sim --fault 60:silent ;;
    *) e2e_fail "unknown mode $mode" ;;
esac
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1

tq_drive press "$kIdApStop" >/dev/null || e2e_fail "could not press ap-stop"
if [[ $mode == answering ]]; then
    tq_drive waitlog "R- " 10 >/dev/null || e2e_fail "no answer in the log"
    e2e_record_settle 1
    e2e_expect_record "$ATTEMPT"
    e2e_log_snapshot
    e2e_expect_log_count "T-  7 $STOP_FRAME" 1
    e2e_expect_log_count "R- " 1
else
    tq_wait_until 15 e2e_record_at_least 24 ||
        e2e_fail "fewer than three attempts reached the line"
    e2e_record_settle 1
    e2e_expect_record "$ATTEMPT$ATTEMPT$ATTEMPT"
    e2e_log_snapshot
    e2e_expect_log_count "T-  7 $STOP_FRAME" 3
    e2e_expect_log_count "R- " 0
fi

e2e_close_panel
e2e_pass
