#!/usr/bin/env bash
# A station of tq73.exe under Wine: one command on COM1 and COM2, each a simulator of its
# own. tq73.exe starts itself again for each port; both units are updated, every line is
# prefixed with its port, the summary counts both, and the record holds one whole JSON
# line per unit with the firmware's SHA-256.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
e2e_need_sample

CLI_EXE=${TQ_CLI_EXE:-$(dirname "$TQ_PANEL_EXE")/tq73.exe}
[[ -f $CLI_EXE ]] || e2e_fail "no tq73.exe at $CLI_EXE"
LINK2=$(dirname "$TQ_COM1_LINK")/com2

e2e_begin shim "2=$LINK2"
e2e_start_sim --flash-dump "$E2E_DUMP" --flash-fill 00
first=$TQ_SIM_PID
mkdir -p "$TQ_WORK/second"
rm -f "$LINK2"
TQ_WORK=$TQ_WORK/second tq_start_sim "$LINK2" --flash-dump "$TQ_WORK/flash2.bin" --flash-fill 11 ||
    e2e_fail "the second simulator did not start"
second=$TQ_SIM_PID

rc=0
(cd "$TQ_WORK" && timeout 120 "$TQ_WINE_LOADER" "$CLI_EXE" --port COM1 --port COM2 --record 'service.jsonl' \
    update "$(tq_windows_path "$E2E_SAMPLE")" 9>&-) >"$TQ_WORK/station.out" 2>"$TQ_WORK/station.err" || rc=$?
sed 's/^/  station: /' "$TQ_WORK/station.out" "$TQ_WORK/station.err"
[[ $rc == 0 ]] || e2e_fail "the station ended with $rc"
grep -q "^station: 2 of 2 units succeeded: exit 0" "$TQ_WORK/station.out" || e2e_fail "no counts line"
for port in COM1 COM2; do
    grep -qx "$port: 更新完了" "$TQ_WORK/station.out" || e2e_fail "no 更新完了 line of $port"
    grep -q "^$port  *complete  *0 " "$TQ_WORK/station.out" || e2e_fail "no summary row of $port"
done

sha=$(sha256sum "$E2E_SAMPLE" | cut -d' ' -f1)
[[ $(wc -l <"$TQ_WORK/service.jsonl") == 2 ]] || e2e_fail "the record does not hold two lines"
for port in COM1 COM2; do
    grep "\"port\":\"$port\"" "$TQ_WORK/service.jsonl" | grep -q "\"exit_code\":0,.*\"firmware_sha256\":\"$sha\"" ||
        e2e_fail "the record of $port does not say exit 0 and the firmware's SHA-256"
done

tq_stop_pid "$first" 10
tq_stop_pid "$second" 10
TQ_SIM_PID=''
e2e_expect_flash "$E2E_SAMPLE" "$E2E_DUMP" 00
e2e_expect_flash "$E2E_SAMPLE" "$TQ_WORK/flash2.bin" 11
e2e_pass
