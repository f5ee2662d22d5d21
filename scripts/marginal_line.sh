#!/usr/bin/env bash
# The marginal-line table (part of scripts/bench.sh; not a test): tq73 against
# the simulator with bits flipped both ways at bit error rates 1e-5, 1e-4 and
# 3e-4 (--noise, a seed per run), and per rate READS flash reads of 16 KiB,
# UPDATES full-image updates and VERIFIES firmware verifies (half of them of a
# unit whose flash holds the image, half of one whose flash differs in a bit). Each run is
# judged against the truth, never against tq73's own words: a read's file
# against the flash it read, an update's flash against a clean update's, a
# verify's verdict against whether the flash holds the image. "wrong" counts
# the runs reported complete (exit 0) whose file or flash is not the truth,
# and the verifies whose verdict is not; it must stay 0.
# The simulator is not paced: the noise is per bit, so the outcomes do not
# depend on the line's speed, and a row takes minutes, not an hour.
# Usage: scripts/marginal_line.sh [READS UPDATES VERIFIES] (default 20 10 10)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${TQ_BIN:-$top/build/native}
reads=${1:-20} updates=${2:-10} verifies=${3:-10}
work=$(mktemp -d)
sim_pid=""
trap '[[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT

python3 "$top/firmware/make_full_image.py" "$work/full.mot" >/dev/null || exit 1
python3 -c "import random,sys; random.seed(7300); sys.stdout.buffer.write(bytes(random.randrange(256) for _ in range(0x10000)))" >"$work/flash.bin"

# sim NAME ARGS...: a simulator on $work/NAME.tty keeping its flash in $work/NAME.flash.
sim() {
    local name=$1
    shift
    rm -f "$work/$name.tty"
    "$bin/tq7300-sim" --link "$work/$name.tty" --flash-dump "$work/$name.flash" "$@" >"$work/$name.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do grep -q READY "$work/$name.out" 2>/dev/null && return 0; sleep 0.05; done
    echo "the simulator did not start: $(cat "$work/$name.out")" >&2
    exit 1
}
sim_end() {
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
}

# tq73 ARGS...: runs tq73 --json; sets code and again (requests asked again).
tq() {
    "$bin/tq73" --quiet --json --port "$work/$1.tty" "${@:2}" >"$work/out.json" 2>"$work/err.txt"
    code=$?
    again=$(sed -n 's/.*"event":"result".*"asked_again":\([0-9]*\).*/\1/p' "$work/out.json" | tail -1)
    again=${again:-0}
}

# The truth of an update: a clean one's flash.
sim clean
tq clean update "$work/full.mot"
sim_end
[[ $code == 0 ]] || { echo "the clean update failed (exit $code): $(tail -c 600 "$work/out.json" "$work/err.txt")" >&2; exit 1; }
cp "$work/clean.flash" "$work/truth.flash"
# The same with one byte of the image's first page changed: what a verify must find.
python3 -c "import sys; b = bytearray(open(sys.argv[1], 'rb').read()); b[0x3010] ^= 0x01; open(sys.argv[2], 'wb').write(b)" \
    "$work/truth.flash" "$work/changed.flash"

declare -A complete failed retries wrong

# tally KIND OK WRONG: counts one run.
tally() {
    local k="$1"
    if [[ $3 == 1 ]]; then
        wrong[$k]=$((${wrong[$k]:-0} + 1))
    elif [[ $2 == 1 ]]; then
        complete[$k]=$((${complete[$k]:-0} + 1))
    else
        failed[$k]=$((${failed[$k]:-0} + 1))
    fi
    retries[$k]=$((${retries[$k]:-0} + again))
}

same() { cmp -s "$1" "$2"; }

run_reads() {  # RATE
    local i
    for ((i = 1; i <= reads; i++)); do
        sim r --noise "$1" --seed "$i" --flash-image "$work/flash.bin"
        rm -f "$work/read.bin"
        tq r read 3000h 16384 "$work/read.bin"
        sim_end
        local ok=0 bad=0
        dd if="$work/flash.bin" of="$work/read.truth" bs=1 skip=$((0x3000)) count=16384 status=none
        if [[ $code == 0 ]]; then
            if same "$work/read.bin" "$work/read.truth"; then ok=1; else bad=1; fi
        fi
        tally "read $1" $ok $bad
    done
}

run_updates() {  # RATE
    local i
    for ((i = 1; i <= updates; i++)); do
        sim u --noise "$1" --seed $((1000 + i))
        tq u update "$work/full.mot"
        sim_end
        local ok=0 bad=0
        if [[ $code == 0 ]]; then
            if same "$work/u.flash" "$work/truth.flash"; then ok=1; else bad=1; fi
        fi
        tally "update $1" $ok $bad
    done
}

# A verify is right when it says "equal" (0) of the image and "differs" (8)
# of a flash with one byte of the image changed; any other exit is a failure
# said clearly.
run_verifies() {  # RATE
    local i flash expect
    for ((i = 1; i <= verifies; i++)); do
        flash=$work/truth.flash expect=0
        ((i % 2 == 0)) && flash=$work/changed.flash expect=8
        sim v --noise "$1" --seed $((2000 + i)) --flash-image "$flash"
        tq v verify "$work/full.mot"
        sim_end
        local ok=0 bad=0
        if [[ $code == 0 || $code == 8 ]]; then
            if [[ $code == "$expect" ]]; then ok=1; else bad=1; fi
        fi
        tally "verify $1" $ok $bad
    done
}

rates=(1e-5 1e-4 3e-4)
start=$(date +%s)
for rate in "${rates[@]}"; do
    run_reads "$rate"
    run_updates "$rate"
    run_verifies "$rate"
done

echo "marginal line (bits flipped both ways; tq73 against the simulator, unpaced; $(($(date +%s) - start)) s):"
printf '%-28s %6s %9s %7s %8s %6s\n' "" "runs" "complete" "failed" "retries" "wrong"
for kind in read update verify; do
    for rate in "${rates[@]}"; do
        k="$kind $rate"
        case $kind in read) n=$reads label="read 16 KiB";; update) n=$updates label="full update";;
            verify) n=$verifies label="firmware verify";; esac
        printf '%-28s %6d %9d %7d %8d %6d\n' "$label, BER $rate" "$n" "${complete[$k]:-0}" "${failed[$k]:-0}" \
            "${retries[$k]:-0}" "${wrong[$k]:-0}"
    done
done
