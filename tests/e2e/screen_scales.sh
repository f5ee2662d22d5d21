#!/usr/bin/env bash
# Every text in its control and the window on a full HD screen at 100, 125, 150, 175
# and 200 %, in one Wine session: the console starts at 200 % (LogPixels 192) and is
# then sent WM_DPICHANGED for each scale, as on reaching another monitor. FONTS is the
# prefix's (TQ_PREFIX_FONTS): system, Wine's own scalable faces, where FixedSys comes
# out proportional; bitmap, Wine's bitmap Fixedsys (an 8 x 15 cell that GDI doubles
# from 150 % up), as Windows draws the template's font. At each scale, with the panel
# shown and hidden: the window lies in the work area, every label's, button's and
# group box's text fits its control, every edit's and the log's lines their cell,
# no two controls overlap, and the Japanese font's cell is the buttons' one.
# At 100 % the buttons keep the template's face. Screenshots go to $TQ_SHOTS.
#   screen_scales.sh system|bitmap
set -u
readonly FONTS=${1:?FONTS: system or bitmap}
readonly SCALES=(192 96 120 144 168 192)
export TQ_PREFIX_FONTS=$FONTS TQ_LOGPIXELS=${SCALES[0]} TQ_SCREEN=1920x1080x24
E2E_VARIANT=$FONTS
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample
SHOTS=${TQ_SHOTS:-$TQ_BUILD/screenshots}

# check WHAT DPI: the window and the texts; the fonts noted.
check() {
    local fits texts log button
    fits=$(tq_drive fits) || e2e_fail "$1: a control is out of reach"
    texts=$(tq_drive textfits) || e2e_fail "$1: a text does not fit"
    log=$(tq_drive font "$kIdLog") && button=$(tq_drive font "$kIdOpen") || e2e_fail "$1: could not read the fonts"
    e2e_note "$1: $texts; log font ${log//$'\t'/ }, buttons ${button//$'\t'/ }; ${fits%% client*}"
    local log_cell=${log##*$'\t'} button_cell=${button##*$'\t'}
    ((log_cell - button_cell <= 1 && button_cell - log_cell <= 1)) ||
        e2e_fail "$1: the log's font has a cell of $log_cell pixels beside the buttons' $button_cell"
    if [[ $2 == 96 && ${button%%$'\t'*} != FixedSys ]]; then
        e2e_fail "$1: at 100 % the buttons lost the template's face for ${button%%$'\t'*}"
    fi
}

e2e_begin noshim
read -r acp _ < <(tq_drive codepage) || e2e_fail "could not ask the code pages"
[[ $acp == 1252 ]] || e2e_fail "the prefix's ANSI code page is $acp, not the Western 1252"
tq_start_panel "$(tq_windows_path "$E2E_SAMPLE")" || e2e_fail "the console did not start"
mkdir -p "$SHOTS"
for i in "${!SCALES[@]}"; do
    dpi=${SCALES[i]}
    if ((i > 0)); then
        tq_drive dpichange "$dpi" >/dev/null || e2e_fail "WM_DPICHANGED to $dpi failed"
    fi
    check "$dpi DPI, panel hidden" "$dpi"
    tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFirmwareBrowse" 1 10 >/dev/null ||
        e2e_fail "the panel did not show"
    check "$dpi DPI, panel shown" "$dpi"
    tq_screenshot "$SHOTS/$E2E_NAME-$dpi.png" || e2e_fail "no screenshot"
    tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFirmwareBrowse" 0 10 >/dev/null ||
        e2e_fail "the panel did not hide"
done
e2e_close_panel
e2e_pass
