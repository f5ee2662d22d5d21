#!/usr/bin/env bash
# A second start while the console runs ends at once with exit code 0; without a
# firmware path it changes nothing in the first window (panel_files.sh: with one).
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin noshim
tq_start_panel || e2e_fail "the console did not start"
tq_drive settext "$kIdPortEdit" 42 >/dev/null || e2e_fail "could not write edit $kIdPortEdit"

t0=$SECONDS
rc=0
(cd "$TQ_WORK" && timeout 30 "$TQ_WINE_LOADER" "$TQ_PANEL_EXE") >/dev/null 2>&1 9>&- || rc=$?
[[ $rc != 124 ]] || e2e_fail "the second start was still running after 30 s"
[[ $rc == 0 ]] || e2e_fail "the second start ended with exit code $rc"
e2e_note "second start ended with 0 after $((SECONDS - t0)) s"

kill -0 "$TQ_PANEL_PID" 2>/dev/null || e2e_fail "the first console has gone"
# The first window is the one still answering, with the text it was given.
tq_drive window 2 text "$kIdPortEdit" 42 2 >/dev/null || e2e_fail "the first window changed or went away"

e2e_close_panel
e2e_pass
