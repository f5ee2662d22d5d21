#!/usr/bin/env bash
# The service panel: the system-menu command shows it below a shortened log and hides
# it again; its controls exist from start-up with the right classes and first texts,
# the keyboard reaches every one of them, Esc closes nothing, Enter presses the focused
# button, the template's nine controls never change their texts, stand where the
# template puts them while the panel is hidden, and every control is within reach.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

# The parameter blocks' controls, block 0 to 3: the button, the first and the second text.
readonly PARAM_BUTTONS=("$kIdParamBlock0" $((kIdParamBlock0 + 1)) $((kIdParamBlock0 + 2)) "$kIdParamBlock3")
readonly PARAM_FIRST_TEXTS=("$kIdParamFirstText0" $((kIdParamFirstText0 + 1)) $((kIdParamFirstText0 + 2))
    $((kIdParamFirstText0 + 3)))
readonly PARAM_SECOND_TEXTS=("$kIdParamSecondText0" $((kIdParamSecondText0 + 1)) $((kIdParamSecondText0 + 2))
    $((kIdParamSecondText0 + 3)))
# The template's controls; 65535 is the "COM" label (id -1 in the template).
readonly SHIPPED_IDS=("$kIdLog" 65535 "$kIdPortEdit" "$kIdOpen" "$kIdClose" "$kIdApStop" "$kIdApResume"
    "$kIdRecovery" "$kIdFarmUpdate")
readonly PANEL_BUTTONS=("$kIdSequenceStart" "$kIdSequenceStop" "$kIdRequest62" "$kIdFlashWrite" "$kIdFlashRead"
    "$kIdFlashErase" "$kIdFlashVerify" "$kIdFirmwareVerify" "$kIdSetClock" "$kIdReadClock" "$kIdClearLog"
    "$kIdBrowseOpen" "$kIdBrowseSave" "$kIdFirmwareBrowse" "$kIdCheckLine" "${PARAM_BUTTONS[@]}")
readonly PANEL_EDITS=("$kIdStartAddressEdit" "$kIdLengthEdit" "$kIdFileEdit" "$kIdFirmwareEdit"
    "${PARAM_FIRST_TEXTS[@]}" "${PARAM_SECOND_TEXTS[@]}")
readonly DEFAULT_FILE='C:\hew2\work\tq7300\tmp.dat'
# The tab order with the panel shown: the template's controls, then the panel's left
# column (flash transfer with the file's two browse buttons; parameter blocks row by
# row), then its right column, then the firmware file and its browse button, the
# ports and the line check.
TAB_CYCLE=("$kIdLog" "$kIdPortEdit" "$kIdOpen" "$kIdClose" "$kIdApStop" "$kIdApResume" "$kIdRecovery" "$kIdFarmUpdate"
    "$kIdStartAddressEdit" "$kIdLengthEdit" "$kIdFileEdit" "$kIdBrowseOpen" "$kIdBrowseSave" "$kIdFlashWrite"
    "$kIdFlashRead" "$kIdFlashErase" "$kIdFlashVerify" "$kIdFirmwareVerify")
for k in 0 1 2 3; do
    TAB_CYCLE+=("${PARAM_FIRST_TEXTS[k]}" "${PARAM_SECOND_TEXTS[k]}" "${PARAM_BUTTONS[k]}")
done
TAB_CYCLE+=("$kIdSetClock" "$kIdReadClock" "$kIdSequenceStart" "$kIdSequenceStop" "$kIdRequest62" "$kIdClearLog"
    "$kIdFirmwareEdit" "$kIdFirmwareBrowse" "$kIdPortList" "$kIdCheckLine")
readonly TAB_CYCLE

# shipped_layout: position, size and text of each template control, one line each.
shipped_layout() {
    local steps=() id
    for id in "${SHIPPED_IDS[@]}"; do
        steps+=(rect "$id" gettext "$id")
    done
    tq_drive "${steps[@]}" | paste -d ' ' - - || e2e_fail "could not read the template's controls"
}

# panel_state 1|0: every panel control has its class and is shown (1) or hidden (0).
panel_state() {
    local want=$1 steps=() id
    for id in "${PANEL_BUTTONS[@]}"; do
        steps+=(class "$id" Button visible "$id" "$want" 10)
    done
    for id in "${PANEL_EDITS[@]}"; do
        steps+=(class "$id" Edit visible "$id" "$want" 10)
    done
    tq_drive "${steps[@]}" >/dev/null
}

# cycle_index ID: the position of ID in TAB_CYCLE; nothing when it is not there.
cycle_index() {
    local i
    for i in "${!TAB_CYCLE[@]}"; do
        [[ ${TAB_CYCLE[$i]} == "$1" ]] && { echo "$i"; return 0; }
    done
    return 1
}

focus_now() {
    tq_drive focus || e2e_fail "could not read the focus"
}

# focus_to ID: Tab until control ID has the focus (at most one round).
focus_to() {
    local n
    for ((n = 0; n <= ${#TAB_CYCLE[@]}; n++)); do
        [[ $(focus_now) == "$1" ]] && return 0
        tq_drive key TAB >/dev/null || e2e_fail "could not post Tab"
    done
    e2e_fail "Tab never brought the focus to control $1"
}

log_is_empty() {
    [[ -z $(tq_drive log) ]]
}

e2e_begin shim 12
e2e_start_sim
tq_start_panel || e2e_fail "the console did not start"

# --- start-up: the panel's controls exist, hidden, with their first texts.
layout0=$(shipped_layout)
size0=$(tq_drive winsize) || e2e_fail "could not read the window size"
e2e_note "window at start: $size0 (w h)"
panel_state 0 || e2e_fail "the panel's controls are not all there and hidden at start-up"
tq_drive text "$kIdStartAddressEdit" 0 5 text "$kIdLengthEdit" 0 5 text "$kIdFileEdit" "$DEFAULT_FILE" 5 \
    text "$kIdFirmwareEdit" "" 5 >/dev/null || e2e_fail "the edits do not hold their first texts"
tq_drive menucheck "$kSysCmdServicePanel" 0 5 >/dev/null || e2e_fail "the menu item is checked at start-up"

# --- shown: the window grows downwards; the template's controls keep their texts
# (they move up beside the shortened log), and every control is within reach.
tq_drive syscmd "$kSysCmdServicePanel" >/dev/null || e2e_fail "could not send the system-menu command"
panel_state 1 || e2e_fail "the panel's controls are not all shown"
tq_drive menucheck "$kSysCmdServicePanel" 1 5 >/dev/null || e2e_fail "the menu item has no check mark"
size1=$(tq_drive winsize) || e2e_fail "could not read the window size"
e2e_note "window with the panel: $size1"
read -r w0 h0 <<<"$size0"
read -r w1 h1 <<<"$size1"
((w1 == w0 && h1 > h0)) || e2e_fail "the window went from $size0 to $size1; expected it to grow in height only"
layout1=$(shipped_layout)
[[ $(cut -d' ' -f5- <<<"$layout1") == "$(cut -d' ' -f5- <<<"$layout0")" ]] ||
    e2e_fail "the template's controls changed their texts with the panel shown:"$'\n'"$layout0"$'\n'"---"$'\n'"$layout1"
tq_drive fits >/dev/null || e2e_fail "a control is out of reach with the panel shown"

# --- keyboard: one round of Tab visits every control in order; Shift+Tab goes back.
start=$(focus_now)
first=$(cycle_index "$start") || e2e_fail "the focus is on control $start, which Tab does not reach"
steps=()
for ((k = 0; k < ${#TAB_CYCLE[@]}; k++)); do
    steps+=(key TAB focus)
done
mapfile -t visited < <(tq_drive "${steps[@]}") || e2e_fail "could not Tab through the window"
for ((k = 0; k < ${#TAB_CYCLE[@]}; k++)); do
    want=${TAB_CYCLE[$(((first + k + 1) % ${#TAB_CYCLE[@]}))]}
    [[ ${visited[$k]:-} == "$want" ]] ||
        e2e_fail "Tab $((k + 1)) from control $start reached ${visited[$k]:-nothing}, expected $want (visited: ${visited[*]})"
done
back=${TAB_CYCLE[$(((first + ${#TAB_CYCLE[@]} - 1) % ${#TAB_CYCLE[@]}))]}
tq_drive key SHIFT+TAB focused "$back" 5 key TAB focused "$start" 5 >/dev/null ||
    e2e_fail "Shift+Tab from control $start did not go back to $back"

# Esc: IDCANCEL does nothing. The Tab after it is handled after it, so once the focus
# has moved the Esc has been handled too.
tq_drive key ESCAPE key TAB focused "${TAB_CYCLE[$(((first + 1) % ${#TAB_CYCLE[@]}))]}" 5 nobox >/dev/null ||
    e2e_fail "the console did not go on after Esc"
kill -0 "$TQ_PANEL_PID" 2>/dev/null || e2e_fail "Esc ended the console"

# --- the ports list names the ports the system has and fills the port edit; once a
# session holds the port, the list is disabled with the edit; "check line" logs its
# verdict (the pty is no USB adapter: healthy or slow, never unanswered).
ports=$(tq_drive class "$kIdPortList" ComboBox choose "$kIdPortList" COM12 text "$kIdPortEdit" 12 5 \
    choose "$kIdPortList" COM1 text "$kIdPortEdit" 1 5) || e2e_fail "choosing from the ports list: $ports"
grep -qx COM2 <<<"$ports" || e2e_fail "the ports list does not name COM2: $ports"
e2e_open_com1
tq_drive enabled "$kIdPortList" 0 5 press "$kIdCheckLine" waitlog "line check: the line is" 15 >/dev/null ||
    e2e_fail "check line logged no verdict"
tq_drive log | grep -Eq "^line check: the line is (healthy|slow)" || e2e_fail "the check's verdict is not its own line"

# --- Enter on the focused "clear log" empties the log.
tq_drive press "$kIdApResume" waitlog "R- " 10 >/dev/null || e2e_fail "ap-resume got no answer"
log_is_empty && e2e_fail "the log is empty after ap-resume"
focus_to "$kIdClearLog"
tq_drive key RETURN >/dev/null || e2e_fail "could not post Enter"
tq_wait_until 10 log_is_empty || e2e_fail "Enter on \"clear log\" did not empty the log"

# --- hidden: the shipped size comes back; the focus leaves the hidden controls.
tq_drive syscmd "$kSysCmdServicePanel" >/dev/null || e2e_fail "could not send the system-menu command"
panel_state 0 || e2e_fail "the panel's controls are not all hidden again"
tq_drive menucheck "$kSysCmdServicePanel" 0 5 >/dev/null || e2e_fail "the menu item keeps its check mark"
size2=$(tq_drive winsize) || e2e_fail "could not read the window size"
[[ $size2 == "$size0" ]] || e2e_fail "the window is $size2 after hiding the panel, expected $size0"
[[ $(shipped_layout) == "$layout0" ]] || e2e_fail "the template's controls moved after hiding the panel"
tq_drive focused "$kIdLog" 5 >/dev/null || e2e_fail "the focus stayed on a hidden control"

# Hidden controls still answer: their commands and texts work as before.
tq_drive press "$kIdApResume" waitlog "R- " 10 press "$kIdClearLog" >/dev/null || e2e_fail "ap-resume got no answer"
tq_wait_until 10 log_is_empty || e2e_fail "\"clear log\" did nothing while the panel is hidden"

tq_drive press "$kIdClose" enabled "$kIdPortEdit" 1 15 >/dev/null ||
    e2e_fail "edit $kIdPortEdit not enabled after close"
e2e_close_panel
e2e_pass
