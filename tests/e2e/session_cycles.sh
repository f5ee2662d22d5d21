#!/usr/bin/env bash
# Close and open the session again and again, each time right after a request was
# answered, with every core kept busy: each close must end the receiver within its
# bound and each open must find the port free. A busy machine stretches the moments
# in which the receiver's idle wait and a close meet; a receiver that once hung there
# for good left the console refusing every later open with "already open".
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"

readonly CYCLES=${CYCLES:-100}
readonly CLOSE_BOUND=3  # seconds; a close ends in well under 0.5 s

e2e_begin shim
f_sim
f_start_panel
e2e_open_com1

burners=()
for ((n = 0; n < $(nproc); n++)); do
    timeout 300 sh -c 'while :; do :; done' &
    burners+=($!)
done
end_burners() {
    local rc=$?
    kill "${burners[@]}" 2>/dev/null
    return "$rc"
}
trap 'end_burners; tq_session_end' EXIT  # the session's own clean-up still runs

longest=0
for ((i = 1; i <= CYCLES; i++)); do
    f_case "cycle $i"
    f_clear_log
    tq_drive press 111 >/dev/null
    f_within 5 "the request got no answer" waitlog "R- " 5 nobox
    sleep "0.$((RANDOM % 30))"  # the close meets the idle receiver at any point of its wait
    t0=$(date +%s%N)
    tq_drive press 102 >/dev/null
    tq_drive enabled 103 1 "$CLOSE_BOUND" >/dev/null 2>&1 ||
        f_fail "the close did not end within $CLOSE_BOUND s"
    ms=$((($(date +%s%N) - t0) / 1000000))
    ((ms > longest)) && longest=$ms
    e2e_open_com1
done
e2e_note "$CYCLES cycles; the longest close took $longest ms"
e2e_close_panel
e2e_pass
