#!/usr/bin/env bash
# WM_CLOSE ends the console with exit code 0.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin noshim
tq_start_panel || e2e_fail "the console did not start"
t0=$SECONDS
e2e_close_panel
e2e_note "ended $((SECONDS - t0)) s after WM_CLOSE"
e2e_pass
