#!/usr/bin/env bash
# "ap-resume" on an open COM1 puts exactly the resume request on the line, and the log
# shows the sent frame followed by the device's answer.
# Argument: shim (the pty behaves like a UART) or noshim (Wine's modem-status polls fail
# on the bare pty; the receiver must still work).
set -u
mode=${1:-shim}
E2E_VARIANT=$mode # read by common.sh
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly RESUME_FRAME=0261000003660D
readonly SENT_LINE="T-  7 $RESUME_FRAME"
readonly ACCEPT_LINE="R-  7 0230000003350D"

e2e_begin "$mode"
e2e_start_sim
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1

# Idle CPU of the open session, for the record (a spinning receiver shows here).
ticks0=$(e2e_cpu_ticks "$TQ_PANEL_PID")
sleep 1
e2e_note "console CPU while idle with the port open: $(($(e2e_cpu_ticks "$TQ_PANEL_PID") - ticks0)) ticks/s"

tq_drive press "$kIdApResume" waitlog "$SENT_LINE" 10 waitlog "R- " 10 >/dev/null ||
    e2e_fail "no sent frame and answer in the log"
e2e_record_settle 1
e2e_expect_record "$RESUME_FRAME"

e2e_log_snapshot
e2e_expect_log_count "$SENT_LINE" 1
e2e_expect_log_count "R- " 1
e2e_expect_log_count "$ACCEPT_LINE" 1
sent_at=$(grep -nF -- "$SENT_LINE" "$E2E_LOG" | cut -d: -f1)
answer_at=$(grep -nF -- "$ACCEPT_LINE" "$E2E_LOG" | cut -d: -f1)
((sent_at < answer_at)) || e2e_fail "the answer was logged before the request"

# A frame line the operator selects is decoded in the status strip; the log's
# lines stay as they were.
tq_drive pickline "$SENT_LINE" text "$kIdStatusText" "resume request" 5 \
    pickline "$ACCEPT_LINE" text "$kIdStatusText" "answer to resume request: accepted" 5 >/dev/null ||
    e2e_fail "the selected frame line's decoding is not in the status strip: \"$(tq_drive gettext "$kIdStatusText")\""
before=$(cat "$E2E_LOG")
e2e_log_snapshot
[[ $(cat "$E2E_LOG") == "$before" ]] || e2e_fail "selecting a line changed the log"

if [[ $mode == shim ]]; then
    tq_shim_took_effect "$TQ_PANEL_PID" ||
        e2e_fail "the pty shim never answered a modem-line request in the console"
else
    [[ -z ${LD_PRELOAD:-} ]] || e2e_fail "LD_PRELOAD is set in a run without the shim"
fi

# "close" ends the session and gives the port number back to the operator.
tq_drive press "$kIdClose" enabled "$kIdPortEdit" 1 15 >/dev/null ||
    e2e_fail "edit $kIdPortEdit not enabled after close"
e2e_close_panel
e2e_pass
