#!/usr/bin/env bash
# Readable on a Western Windows and within a small screen: Wine's own fonts (no
# stand-in for FixedSys), the ANSI code page 1252, LogPixels DPI on a SCREEN-sized
# virtual screen. After a firmware update the log, the panel's edits and the status
# strip use a font that has the glyphs of ﾌﾞﾛｯｸ消去 and 更新完了 (the buttons keep the
# template's), and with the panel hidden and shown the window lies in the work area
# and every visible control in the window, its text fitting it; so too after WM_DPICHANGED for 1.5 times
# the DPI, where the window takes the size it answered WM_GETDPISCALEDSIZE with, and
# WM_DPICHANGED back gives the window its size and fonts back. Screenshots of both go to $TQ_SHOTS
# (default build/screenshots) to be looked at.
#   screen_fit.sh DPI SCREEN    e.g. 144 1366x768
set -u
readonly DPI=${1:?DPI} SCREEN=${2:?SCREEN, e.g. 1366x768}
export TQ_PREFIX_FONTS=system TQ_LOGPIXELS=$DPI TQ_SCREEN=${SCREEN}x24
E2E_VARIANT=$DPI-$SCREEN
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

readonly JAPANESE='ﾌﾞﾛｯｸ消去更新完了'
# The log, the panel's edits (transfer, parameter texts) and the status text.
readonly JAPANESE_IDS=("$kIdLog" "$kIdStartAddressEdit" "$kIdLengthEdit" "$kIdFileEdit" "$kIdParamFirstText0"
    $((kIdParamFirstText0 + 3)) "$kIdParamSecondText0" $((kIdParamSecondText0 + 3)) "$kIdStatusText")
readonly TEMPLATE_FONT_IDS=("$kIdOpen" "$kIdFarmUpdate" "$kIdFlashWrite" "$kIdParamBlock0")
SHOTS=${TQ_SHOTS:-$TQ_BUILD/screenshots}

face_of() {  # ID: the face of control ID's font
    tq_drive font "$1" | cut -f1
}

# shot NAME: the whole screen into $SHOTS/screen_fit-DPI-SCREEN-NAME.png.
shot() {
    mkdir -p "$SHOTS"
    tq_screenshot "$SHOTS/$E2E_NAME-$1.png" || e2e_fail "no screenshot"
    e2e_note "screenshot $SHOTS/$E2E_NAME-$1.png"
}

# fits WHAT: the window and its controls within reach, every text in its control.
fits() {
    local out
    out=$(tq_drive fits) || e2e_fail "$1: a control is out of reach"
    e2e_note "$1: $out"
    out=$(tq_drive textfits) || e2e_fail "$1: a text does not fit its control"
    e2e_note "$1: $out"
}

# check_fonts WHAT: one face with the glyphs for every Japanese-showing control; the
# buttons keep the template's.
check_fonts() {
    local face template_face id
    face=$(face_of "$kIdLog") || e2e_fail "$1: could not read the log's font"
    template_face=$(face_of "$kIdOpen") || e2e_fail "$1: could not read a button's font"
    e2e_note "$1: log font \"$face\", buttons \"$template_face\""
    [[ $face != "$template_face" ]] || e2e_fail "$1: the log keeps the template's font $face"
    tq_drive glyphs "$face" "$JAPANESE" >/dev/null || e2e_fail "$1: the log's font has no Japanese glyphs"
    for id in "${JAPANESE_IDS[@]}"; do
        [[ $(face_of "$id") == "$face" ]] || e2e_fail "$1: control $id does not use $face"
    done
    for id in "${TEMPLATE_FONT_IDS[@]}"; do
        [[ $(face_of "$id") == "$template_face" ]] || e2e_fail "$1: control $id does not keep the template's font"
    done
}

show_panel() {
    tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashWrite" 1 10 visible $((kIdParamSecondText0 + 3)) 1 10 \
        >/dev/null || e2e_fail "the panel did not show"
}
hide_panel() {
    tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashWrite" 0 10 >/dev/null || e2e_fail "the panel did not hide"
}

e2e_begin shim
read -r acp _ < <(tq_drive codepage) || e2e_fail "could not ask the code pages"
[[ $acp == 1252 ]] || e2e_fail "the prefix's ANSI code page is $acp, not the Western 1252"
e2e_start_sim --flash-dump "$E2E_DUMP"
tq_start_panel "$(tq_windows_path "$E2E_SAMPLE")" || e2e_fail "the console did not start"

# The fonts are read first: hooking tqprobe.dll into the console after a firmware
# update hangs the console under Wine 8 (the menu-state query does too).
check_fonts "panel hidden"
fits "panel hidden"
show_panel
check_fonts "panel shown"
fits "panel shown"
size0=$(tq_drive winsize) && height0=$(tq_drive font "$kIdLog" | cut -f2) || e2e_fail "could not read the window"
tq_drive dpichange $((DPI * 3 / 2)) >/dev/null || e2e_fail "WM_DPICHANGED to $((DPI * 3 / 2)) failed"
check_fonts "DPI $((DPI * 3 / 2))"
fits "DPI $((DPI * 3 / 2))"
height1=$(tq_drive font "$kIdLog" | cut -f2) || e2e_fail "could not read the log's font"
e2e_note "the log's font: lfHeight $height0 at $DPI DPI, $height1 at $((DPI * 3 / 2)) DPI"
tq_drive dpichange "$DPI" >/dev/null || e2e_fail "WM_DPICHANGED back to $DPI failed"
[[ $(tq_drive winsize) == "$size0" && $(tq_drive font "$kIdLog" | cut -f2) == "$height0" ]] ||
    e2e_fail "back at $DPI DPI the window is $(tq_drive winsize) (was $size0), its log font $(tq_drive font "$kIdLog")"
hide_panel

e2e_open_com1
tq_drive press "$kIdFarmUpdate" watch "更新完了|更新失敗" 90 >/dev/null || e2e_fail "the update did not finish"
e2e_log_snapshot
e2e_expect_log_count "更新完了" 1
(($(e2e_log_count "ﾌﾞﾛｯｸ消去") >= 1)) || e2e_fail "the log shows no ﾌﾞﾛｯｸ消去 line"
shot log
show_panel
fits "panel shown after the update"
shot panel
hide_panel
fits "panel hidden again"
e2e_close_panel
e2e_pass
