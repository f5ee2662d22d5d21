#!/usr/bin/env bash
# WM_CLOSE ends the console with exit code 0; in the write pass of an update it first
# ends the pass before its next page, with the closing byte, so that the unit's boot
# loader is never left in the middle of a page.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin shim
tq_start_panel || e2e_fail "the console did not start"
t0=$SECONDS
e2e_close_panel
e2e_note "ended $((SECONDS - t0)) s after WM_CLOSE"

# A full image (192 pages) at line speed; closed after the third page's address.
image=$TQ_WORK/full-image.mot
python3 "$TQ_ROOT/firmware/make_full_image.py" "$image" || e2e_fail "could not make the full image"
check_log=$TQ_WORK/frame-check.txt
e2e_start_sim --pace --flash-dump "$E2E_DUMP" --frame-check "$check_log"
tq_start_panel "$(tq_windows_path "$image")" || e2e_fail "the console did not start"
e2e_open_com1
tq_drive press "$kIdFarmUpdate" waitlog "書込3100" 30 >/dev/null || e2e_fail "the write pass did not reach page 3100"
t0=$SECONDS
e2e_close_panel
e2e_note "ended $((SECONDS - t0)) s after WM_CLOSE in the write pass"
e2e_record_settle 1
record=$(e2e_record_hex)
# The last bytes: a page's "U" (55) and the closing byte FF, nothing after it.
[[ $record == *55FF ]] || e2e_fail "the line does not end with a page's U and the closing byte: ...${record: -40}"
tq_stop_sim
grep -qx 'violations 0' "$check_log" && ! grep -q '^left_mid_step [1-9]' "$check_log" ||
    e2e_fail "the boot steps were not well formed: $(grep -E '^(violation|left_mid)' "$check_log" | head -5)"
e2e_pass
