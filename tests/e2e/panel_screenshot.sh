#!/usr/bin/env bash
# panel_screenshot.sh OUT.png: a picture of the console with the service panel shown,
# after an ap-resume and with Japanese parameter texts typed in, for the documentation.
# Not a test: run it by hand after scripts/build.sh (default OUT: build/screenshot-panel.png).
#
# It uses a screen of its own, taller than the 1280 x 1024 one of the scenarios: with
# VL Gothic standing in for FixedSys the dialog is about 1030 x 800 pixels, and about
# 1030 x 1320 with the panel shown.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

out=${1:-$TQ_BUILD/screenshot-panel.png}
readonly SCREEN=1280x1400x24

# start_tall_xvfb: a private X server on a display that the scenarios' range (90 to
# 189) does not use; the session ends it as its own (TQ_XVFB_PID).
start_tall_xvfb() {
    local n lock pid
    for ((n = 200; n < 300; n++)); do
        lock=/tmp/.X$n-lock
        if [[ -e $lock ]]; then
            pid=$(tr -dc '0-9' <"$lock" 2>/dev/null)
            [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null && continue
        fi
        [[ -S /tmp/.X11-unix/X$n ]] && continue
        Xvfb ":$n" -screen 0 "$SCREEN" -nolisten tcp >"$TQ_WORK/xvfb.log" 2>&1 9>&- &
        TQ_XVFB_PID=$!
        # Listed for the next session to end, should this one be killed outright.
        if declare -F tq__remember_pid >/dev/null; then
            tq__remember_pid "$TQ_XVFB_PID" "Xvfb :$n"
        fi
        if tq_wait_until 10 test -S "/tmp/.X11-unix/X$n"; then
            export DISPLAY=":$n" TQ_USE_DISPLAY=1
            return 0
        fi
        tq_stop_pid "$TQ_XVFB_PID" 5
        TQ_XVFB_PID=
    done
    return 1
}

tq_session_begin || e2e_fail "could not begin a session"
start_tall_xvfb || e2e_fail "no X server"
tq_prefix_ensure || e2e_fail "no Wine prefix"
E2E_LINK=$TQ_COM1_LINK
tq_map_port 1 "$E2E_LINK" || e2e_fail "could not map COM1"
tq_start_wineserver shim || e2e_fail "no wineserver"
E2E_RECORD=$TQ_WORK/record.bin
e2e_start_sim
tq_start_panel || e2e_fail "the console did not start"
e2e_open_com1
tq_drive press 111 waitlog "R- " 10 >/dev/null || e2e_fail "ap-resume got no answer"
tq_drive syscmd 0x100 visible 304 1 10 \
    setfocus 304 type "点検モード" setfocus 308 type "ﾃｽﾄ 1" setfocus 305 type "TQ7300" \
    settext 200 11f80h settext 201 4096 setfocus 203 sleep 1 >/dev/null ||
    e2e_fail "could not fill in the service panel"
mkdir -p "$(dirname "$out")"
# The screen is black around the window: trim it away.
tq_screenshot "$TQ_WORK/screen.png" || e2e_fail "the screenshot failed"
convert "$TQ_WORK/screen.png" -trim +repage "$out" || e2e_fail "could not crop the screenshot"
e2e_note "saved $out"
e2e_close_panel
e2e_pass
