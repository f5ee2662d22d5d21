#!/usr/bin/env bash
# Files named without typing them. The command line fills the firmware edit as given;
# "open..." and "save..." beside the file edit and "..." beside the firmware edit open
# the system's dialogs in the folder of the edit's path, and the chosen path (Japanese
# and accented names) goes into the edit; a firmware file dropped on the log fills the
# firmware edit, another file dropped on the file edit fills that, a text file dropped
# on the log changes nothing, and nothing starts. A second start brings the minimized
# window forward, hands it its firmware path made absolute from its own working
# folder, and ends with 0.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

e2e_begin noshim
one="$TQ_WORK/one Jérôme"
two="$TQ_WORK/二 フォルダ"
mkdir -p "$one" "$two" "$TQ_WORK/second"
: >"$one/データ.bin"
: >"$one/fw Ωmega.mot"
win() { tq_windows_path "$1"; }

TQ_PANEL_CWD=$one tq_start_panel 'rel\first.mot' || e2e_fail "the console did not start"
tq_drive text "$kIdFirmwareEdit" 'rel\first.mot' 5 >/dev/null ||
    e2e_fail "the firmware edit does not hold the command line's path as given"

# The dialogs start in the folder of the edit's path: a bare name chosen there lands
# in that folder; Open takes only a file that exists there.
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdBrowseOpen" 1 10 \
    settext "$kIdFileEdit" "$(win "$one/old.bin")" click "$kIdBrowseOpen" \
    savefile "Open a file for flash write, erase or verify" "データ.bin" 15 \
    text "$kIdFileEdit" "$(win "$one/データ.bin")" 5 \
    settext "$kIdFileEdit" "$(win "$two/x.bin")" click "$kIdBrowseSave" \
    savefile "Save flash read as" "dump é.bin" 15 \
    text "$kIdFileEdit" "$(win "$two/dump é.bin")" 5 \
    settext "$kIdFirmwareEdit" "$(win "$one/none.mot")" click "$kIdFirmwareBrowse" \
    savefile "Open a firmware file" "fw Ωmega.mot" 15 \
    text "$kIdFirmwareEdit" "$(win "$one/fw Ωmega.mot")" 5 >/dev/null ||
    e2e_fail "a browse button did not fill its edit with the chosen file"
[[ ! -e "$two/dump é.bin" ]] || e2e_fail "choosing a file to save made it"

# Drops: by what and where; the panel hidden first, so that a firmware drop shows it.
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFileEdit" 0 10 \
    drop 0 "$(win "$two/firmware.S19")" text "$kIdFirmwareEdit" "$(win "$two/firmware.S19")" 5 \
    visible "$kIdFirmwareEdit" 1 10 \
    drop "$kIdFileEdit" "$(win "$two/image.srec")" text "$kIdFileEdit" "$(win "$two/image.srec")" 5 \
    drop 0 "$(win "$two/notes.txt")" sleep 1 text "$kIdFirmwareEdit" "$(win "$two/firmware.S19")" 1 \
    text "$kIdFileEdit" "$(win "$two/image.srec")" 1 >/dev/null || e2e_fail "a dropped file went to the wrong place"
[[ -z $(tq_drive log) ]] || e2e_fail "a drop wrote to the log (nothing should start)"
tq_drive nobox >/dev/null || e2e_fail "a drop brought a box"

# A second start, from another folder, with a relative path.
tq_drive minimize >/dev/null || e2e_fail "could not minimize the console"
rc=0
(cd "$TQ_WORK/second" && timeout 30 "$TQ_WINE_LOADER" "$TQ_PANEL_EXE" 'next fw.mot') >/dev/null 2>&1 9>&- || rc=$?
[[ $rc == 0 ]] || e2e_fail "the second start ended with exit code $rc"
kill -0 "$TQ_PANEL_PID" 2>/dev/null || e2e_fail "the first console has gone"
tq_drive text "$kIdFirmwareEdit" "$(win "$TQ_WORK/second/next fw.mot")" 5 visible "$kIdFirmwareEdit" 1 5 \
    foreground 10 >/dev/null || e2e_fail "the running window did not take the path and come forward"
rc=0
(cd "$TQ_WORK/second" && timeout 30 "$TQ_WINE_LOADER" "$TQ_PANEL_EXE") >/dev/null 2>&1 9>&- || rc=$?
[[ $rc == 0 ]] || e2e_fail "the second start without a path ended with exit code $rc"
tq_drive text "$kIdFirmwareEdit" "$(win "$TQ_WORK/second/next fw.mot")" 5 >/dev/null ||
    e2e_fail "a second start without a path changed the firmware edit"

e2e_close_panel
e2e_pass
