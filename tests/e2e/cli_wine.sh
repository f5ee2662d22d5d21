#!/usr/bin/env bash
# tq73.exe, the console program, under Wine against the simulator on COM1: the port
# list names COM1; an update with the sample firmware programs the flash and ends with
# exit code 0; a flash read writes the range into a file, and the same read through
# COM12 (reachable only as \\.\COM12) gives the same bytes; a read with --decode and
# --capture decodes its frames and writes a capture that decode reads back; --sim says that it is not
# available; a port mapped to nothing ends with the port's exit code and says it does not
# exist; the line check gives its verdict; a device that goes
# away under a read ends it at once with exit code 3 and the line that says so; a log-off
# (WM_QUERYENDSESSION and WM_ENDSESSION to its hidden window) in an update's write pass
# ends the pass before its next page with the closing byte, and says so.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

CLI_EXE=${TQ_CLI_EXE:-$(dirname "$TQ_PANEL_EXE")/tq73.exe}
[[ -f $CLI_EXE ]] || e2e_fail "no tq73.exe at $CLI_EXE"

# cli NAME ARGS...: tq73.exe with stdout and stderr in $TQ_WORK/NAME.out and .err; its
# exit code in CLI_RC. A console program needs no window: the loader runs it directly.
cli() {
    local name=$1
    shift
    CLI_RC=0
    (cd "$TQ_WORK" && timeout 120 "$TQ_WINE_LOADER" "$CLI_EXE" "$@" 9>&-) \
        >"$TQ_WORK/$name.out" 2>"$TQ_WORK/$name.err" || CLI_RC=$?
    sed "s/^/  $name: /" "$TQ_WORK/$name.out" "$TQ_WORK/$name.err"
}

e2e_begin shim 12
e2e_start_sim --flash-dump "$E2E_DUMP" --flash-fill 00

cli ports ports
[[ $CLI_RC == 0 ]] || e2e_fail "ports ended with $CLI_RC"
grep -qx COM1 "$TQ_WORK/ports.out" || e2e_fail "the port list does not name COM1"

cli update --port COM1 update "$(tq_windows_path "$E2E_SAMPLE")"
[[ $CLI_RC == 0 ]] || e2e_fail "update ended with $CLI_RC"
grep -qx "更新完了" "$TQ_WORK/update.out" || e2e_fail "no 更新完了 line (UTF-8) in the output"
model_frame=$(e2e_model_frame "$E2E_SAMPLE") || e2e_fail "the sample has no model record"
[[ $(head -n 1 "$TQ_WORK/update.out") == "T-  7 $model_frame" ]] || e2e_fail "the model request is not the first line"
[[ $(e2e_record_hex) == "$model_frame"* ]] || e2e_fail "the line did not start with the model request"
grep -q "^update complete in " "$TQ_WORK/update.out" || e2e_fail "no result line"

cli read --port 1 read 3000h 256 'read.bin'
[[ $CLI_RC == 0 ]] || e2e_fail "read ended with $CLI_RC"
[[ -f $TQ_WORK/read.bin ]] || e2e_fail "no read.bin"

cli read12 --port COM12 read 3000h 256 'read12.bin'
[[ $CLI_RC == 0 ]] || e2e_fail "the read through COM12 ended with $CLI_RC"
cmp -s "$TQ_WORK/read.bin" "$TQ_WORK/read12.bin" || e2e_fail "the read through COM12 gave other bytes"

# --capture through the Windows file calls, and tq73.exe decode reading it back.
cli capture --port COM1 --decode --capture 'read.pcapng' read 3000h 16 'read16.bin'
[[ $CLI_RC == 0 ]] || e2e_fail "the read with --capture ended with $CLI_RC"
grep -qx "    = flash read 0x003000, 16 bytes" "$TQ_WORK/capture.out" || e2e_fail "--decode did not decode the read"
cli decode decode 'read.pcapng'
[[ $CLI_RC == 0 ]] || e2e_fail "decode of the capture ended with $CLI_RC"
grep -q "^    = answer to flash read 0x003000: accepted, 16 data bytes" "$TQ_WORK/decode.out" ||
    e2e_fail "decode of the capture did not name the answer"

cli sim --sim stop
[[ $CLI_RC == 2 ]] || e2e_fail "--sim ended with $CLI_RC, expected 2"
grep -q "not available in tq73.exe" "$TQ_WORK/sim.err" || e2e_fail "--sim does not say that it is not available"

cli unmapped --port COM9 stop
[[ $CLI_RC == 3 ]] || e2e_fail "an unmapped port ended with $CLI_RC, expected 3"
grep -q "COM9 does not exist on this PC" "$TQ_WORK/unmapped.err" || e2e_fail "the unmapped port's reason is not told"

# The line check times its reads through Wine's serial layer: it ends with a verdict.
cli check --quiet --port COM1 check
[[ $CLI_RC == 0 ]] || e2e_fail "check ended with $CLI_RC"
grep -Eq "^check: the line is (healthy|slow)" "$TQ_WORK/check.out" || e2e_fail "check gave no verdict"

tq_stop_sim
e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
# The file holds what the flash holds from 0x3000 on: the programmed image.
[[ $(tq_hex "$TQ_WORK/read.bin") == $(head -c $((0x3100)) "$E2E_DUMP" | tail -c 256 | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F) ]] ||
    e2e_fail "read.bin does not hold the flash at 0x3000"

e2e_start_sim --pace
(sleep 2; kill -KILL "$TQ_SIM_PID") &
killer=$!
t0=$SECONDS
cli lost --port COM1 read 0 20000h 'lost.bin'
wait "$killer"
[[ $CLI_RC == 3 ]] || e2e_fail "a read whose device went away ended with $CLI_RC, expected 3"
grep -q "the port went away" "$TQ_WORK/lost.out" "$TQ_WORK/lost.err" || e2e_fail "no line says that the port went away"
((SECONDS - t0 <= 10)) || e2e_fail "the read took $((SECONDS - t0)) s to end after the device went away"
[[ ! -e $TQ_WORK/lost.bin ]] || e2e_fail "the failed read made lost.bin"
TQ_SIM_PID=''

python3 "$TQ_ROOT/firmware/make_full_image.py" "$TQ_WORK/full.mot" || e2e_fail "could not write the full image"
e2e_start_sim --pace
(cd "$TQ_WORK" && timeout 120 "$TQ_WINE_LOADER" "$CLI_EXE" --port COM1 update 'full.mot' 9>&-) \
    >"$TQ_WORK/logoff.out" 2>"$TQ_WORK/logoff.err" &
updater=$!
tq_wait_until 30 grep -q "書込中" "$TQ_WORK/logoff.out" || e2e_fail "the update did not reach its write pass"
tq_drive endsession tq73-session-end 10 | sed 's/^/  drive: /'
rc=0
wait "$updater" || rc=$?
sed 's/^/  logoff: /' "$TQ_WORK/logoff.out" "$TQ_WORK/logoff.err"
grep -q "Windows is closing tq73: the write pass ends before its next page" "$TQ_WORK/logoff.err" ||
    e2e_fail "the log-off did not end the write pass (exit $rc)"
grep -qx "更新失敗 err: 0a" "$TQ_WORK/logoff.out" || e2e_fail "no 更新失敗 err: 0a line after the log-off"
[[ $(e2e_record_hex) == *FF ]] || e2e_fail "the line did not end with the closing byte FF"
tq_stop_sim
e2e_pass
