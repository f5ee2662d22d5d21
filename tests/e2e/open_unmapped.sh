#!/usr/bin/env bash
# Opening a COM port that is mapped to nothing shows the warning box and leaves the
# port number editable. (Wine does not refuse a second open of a port that is already
# open, so a port without a device is the way to make the open fail.)
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly PORT=7

e2e_begin noshim
tq_start_panel || e2e_fail "the console did not start"
[[ ! -e $WINEPREFIX/dosdevices/com$PORT ]] ||
    e2e_fail "COM$PORT is mapped in this prefix ($(readlink "$WINEPREFIX/dosdevices/com$PORT")); pick another port"

tq_drive settext "$kIdPortEdit" "$PORT" press "$kIdOpen" \
    box "COMがオープンできません" 20 >"$TQ_WORK/box.txt" ||
    e2e_fail "no warning box for the failed open"
e2e_note "$(cat "$TQ_WORK/box.txt")"
tq_drive enabled "$kIdPortEdit" 1 2 text "$kIdPortEdit" "$PORT" 2 nobox >/dev/null ||
    e2e_fail "edit $kIdPortEdit is not enabled and unchanged after the failed open"

e2e_close_panel
e2e_pass
