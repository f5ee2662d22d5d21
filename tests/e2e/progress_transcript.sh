#!/usr/bin/env bash
# The status strip and the session transcript. A session recording is started from the
# system menu and its save dialog; then "farm udt" of a full image (192 pages) and a
# flash read of 64 KiB (512 log lines) run while the driver samples the progress bar
# and the status text: the bar only rises, reaches its end, and the text ends with the
# outcome. The recording, stopped from the menu, holds every log line in order (also
# those that scrolled out of the 100-line log), each after a millisecond time stamp,
# UTF-8 after a BOM; "Save log as..." writes exactly what the log holds.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"

readonly READ_LENGTH=65536
readonly OUTCOME="complete in|refused|failed|no answer|not started|closed"

e2e_begin shim
image=$TQ_WORK/full.mot
python3 "$TQ_ROOT/firmware/make_full_image.py" "$image" || e2e_fail "could not write the full image"
e2e_start_sim --flash-dump "$E2E_DUMP"
tq_start_panel "$(tq_windows_path "$image")" || e2e_fail "the console did not start"

session=$TQ_WORK/session.txt
saved=$TQ_WORK/saved.txt
tq_drive syscmd "$kSysCmdRecordSession" savefile "Record session" "$(tq_windows_path "$session")" 15 \
    menucheck "$kSysCmdRecordSession" 1 5 >/dev/null || e2e_fail "the recording did not start"
e2e_open_com1

# check_progress FILE WHAT FINAL: FILE holds the driver's "POS TEXT" samples; those of
# the operation named FINAL count (a sample taken before the window handled the press
# still shows the one before).
check_progress() {
    local file=$1 what=$2 final=$3
    grep -F " $final" "$file" >"$file.own"
    file=$file.own
    sed 's/^/  progress: /' "$file" | awk 'NR <= 6 || /complete|refused|failed/'
    awk -v what="$what" '
        { if (NR > 1 && $1 < last) { printf "%s: the bar fell from %d to %d\n", what, last, $1; bad = 1 }
          last = $1; if ($1 > 0 && $1 < 1000) between++ }
        END { if (last != 1000) { printf "%s: the bar ended at %d\n", what, last; bad = 1 }
              if (between < 3) { printf "%s: only %d samples between start and end\n", what, between; bad = 1 }
              exit bad }' "$file" || e2e_fail "$what: the progress bar did not rise steadily to its end"
    [[ $(tail -n 1 "$file") =~ ^1000\ $final\ complete\ in\ [0-9]+\.[0-9]\ s$ ]] ||
        e2e_fail "$what: the status text ended with \"$(tail -n 1 "$file")\""
}

tq_drive press "$kIdFarmUpdate" progress "$OUTCOME" 120 >"$TQ_WORK/update.progress" ||
    e2e_fail "the update's status never showed an outcome"
check_progress "$TQ_WORK/update.progress" "farm udt" "update"
grep -q "update: page [0-9]* of 192" "$TQ_WORK/update.progress" ||
    e2e_fail "the status text never counted the 192 pages"

tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashRead" 1 10 \
    settext "$kIdStartAddressEdit" 0 settext "$kIdLengthEdit" $READ_LENGTH \
    settext "$kIdFileEdit" "$(tq_windows_path "$TQ_WORK/read.bin")" >/dev/null || e2e_fail "the panel did not show"
# The read's own outcome: the update's ("update complete in ...") may still stand when
# the first sample is taken, before the window has handled the press.
read_outcome="flash read 0x0 complete in|flash read 0x0 refused|flash read 0x0: no answer|flash read 0x0 not started"
tq_drive press "$kIdFlashRead" progress "$read_outcome|flash read 0x0: the port closed" 120 >"$TQ_WORK/read.progress" ||
    e2e_fail "the read's status never showed an outcome"
check_progress "$TQ_WORK/read.progress" "flash read" "flash read 0x0"
grep -q "of 65,536 bytes" "$TQ_WORK/read.progress" || e2e_fail "the status text never counted the bytes"

# Stop the recording, then save the log as it is.
tq_drive syscmd "$kSysCmdRecordSession" menucheck "$kSysCmdRecordSession" 0 5 >/dev/null ||
    e2e_fail "the recording did not stop"
tq_drive syscmd "$kSysCmdSaveLog" savefile "Save log as" "$(tq_windows_path "$saved")" 15 >/dev/null ||
    e2e_fail "the log was not saved"
e2e_log_snapshot
tq_drive press "$kIdApResume" waitlog "R- " 10 >/dev/null || e2e_fail "the console does not go on after the transcript"

bom=$(head -c 3 "$session" | od -An -tx1 | tr -d ' ')
[[ $bom == efbbbf ]] || e2e_fail "the session file does not start with a UTF-8 BOM ($bom)"
[[ $(head -c 3 "$saved" | od -An -tx1 | tr -d ' ') == efbbbf ]] || e2e_fail "the saved log has no BOM"
# The saved log is the log, line for line.
tail -c +4 "$saved" | tr -d '\r' | diff - "$E2E_LOG" >/dev/null ||
    e2e_fail "the saved log differs from the log: $(tail -c +4 "$saved" | tr -d '\r' | diff - "$E2E_LOG" | head -5)"

lines=$TQ_WORK/session.lines
tail -c +4 "$session" | tr -d '\r' >"$TQ_WORK/session.raw"
bad_stamps=$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} ' "$TQ_WORK/session.raw")
((bad_stamps == 0)) || e2e_fail "$bad_stamps session lines have no millisecond time stamp"
cut -c 25- "$TQ_WORK/session.raw" >"$lines"
total=$(wc -l <"$lines")
e2e_note "the session file holds $total lines"
pages=$(grep -c '^書込[0-9a-f]*$' "$lines")
reads=$(grep -c '^T- 13 0250060004' "$lines")
((pages == 192)) || e2e_fail "the session holds $pages page lines, expected 192"
((reads == READ_LENGTH / 256)) || e2e_fail "the session holds $reads read requests, expected $((READ_LENGTH / 256))"
grep -qx "ﾌﾞﾛｯｸ消去 3000-33FF" "$lines" || e2e_fail "the Japanese erase line does not read as the log shows it"
grep -qx "更新完了" "$lines" || e2e_fail "the session has no 更新完了"
# In order: the load's line naming the firmware file, the model request, the update's
# end before the first read.
[[ $(head -n 1 "$lines") == "firmware file "*": model record TQ1, 192 pages, SHA-256 "* ]] ||
    e2e_fail "the session begins with \"$(head -n 1 "$lines")\""
[[ $(sed -n 2p "$lines") == "T-  7 0270000003750D" ]] || e2e_fail "the session's second line is \"$(sed -n 2p "$lines")\""
done_at=$(grep -nx "更新完了" "$lines" | cut -d: -f1)
read_at=$(grep -n '^T- 13 0250060004' "$lines" | head -n 1 | cut -d: -f1)
((done_at < read_at)) || e2e_fail "the session lines are out of order"
# Its last 100 lines are what the log held when the recording stopped.
tail -n 100 "$lines" | diff - "$E2E_LOG" >/dev/null ||
    e2e_fail "the session's end differs from the log: $(tail -n 100 "$lines" | diff - "$E2E_LOG" | head -5)"
# tq73 decode reads the recording back: every frame line with its decoding under
# it, the Japanese lines with their English, the gaps from the time stamps.
decoded=$TQ_WORK/session.decoded
"$TQ73" decode "$session" >"$decoded" || e2e_fail "tq73 decode of the session failed"
grep -c '^    = ' "$decoded" >/dev/null || e2e_fail "tq73 decode printed no decoding"
# The load's line comes first (no decoding), then the model request and its decoding.
[[ $(sed -n 3p "$decoded") == "    = model request p (0x70)" ]] ||
    e2e_fail "the model request is decoded as \"$(sed -n 3p "$decoded")\""
grep -A1 -x '.* ﾌﾞﾛｯｸ消去 3000-33FF' "$decoded" | grep -qx '    = block erase 3000-33FF' ||
    e2e_fail "the erase line has no English under it"
grep -qx '    = update complete' "$decoded" || e2e_fail "更新完了 has no English under it"
decoded_reads=$(grep -c '^    = flash read 0x00[0-9A-F]\{4\}, 256 bytes' "$decoded")
((decoded_reads == READ_LENGTH / 256)) || e2e_fail "$decoded_reads read requests decoded, expected $((READ_LENGTH / 256))"
answers=$(grep -c '^    = answer to flash read 0x00[0-9A-F]\{4\}: accepted, 256 data bytes \[the line shows 64 of 263 bytes: the checksum is not checked\] (+[0-9]* ms)$' "$decoded")
((answers == READ_LENGTH / 256)) || e2e_fail "$answers read answers decoded with their gap, expected $((READ_LENGTH / 256))"
e2e_close_panel
e2e_pass
