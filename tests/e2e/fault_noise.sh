#!/usr/bin/env bash
# Noise on the line from the device's side, unprompted: a storm of garbage with no frame
# start in it, frames whose length fields are beyond what the console's buffer holds
# (complete ones, and one whose rest never comes), and a 10,000-byte random burst. Each
# is followed, after a quiet second, by normal traffic (a 1 KiB flash write and read
# back, an ap-stop), which must work within the case's bound, with no box; the window answers every
# 100 ms throughout and the console keeps running.
set -u
# shellcheck source=tests/e2e/common.sh
source "$(dirname "$0")/common.sh"
# shellcheck source=tests/e2e/fault_lib.sh
source "$(dirname "$0")/fault_lib.sh"

e2e_begin shim
f_sim --flash-fill 00
f_open_panel

noise=$TQ_WORK/noise.bin
data_file=$TQ_WORK/data.bin
copy_file=$TQ_WORK/copy.bin

# hex_frame STATUS LENGTH PAYLOAD_BYTES: a frame header declaring LENGTH, then that
# many payload bytes (or fewer: PAYLOAD_BYTES), ETX, checksum and CR when complete.
noise_frame() {
    local length=$1 sent=$2
    printf '\x02\x30'
    printf "\\x$(printf %02x $((length & 0xFF)))\\x$(printf %02x $((length >> 8)))"
    head -c "$sent" /dev/zero | tr '\0' 'N'
    ((sent == length)) && printf '\x03\x00\x0D'
    return 0
}

make_garbage() {
    # Random bytes in which nothing can start a frame, then a stray pair left hanging.
    head -c 3000 /dev/urandom | tr '\002' '\132'
    printf '\x5A\xA5'
}

make_oversize() {
    noise_frame 506 506
    noise_frame 600 600
    noise_frame 4096 4096
    noise_frame 65535 40
}

make_burst() {
    head -c 10000 /dev/urandom
}

# The traffic after the noise: a write of 1 KiB, its read back, an ap-stop answered.
normal_traffic() {
    head -c 1024 /dev/urandom >"$data_file"
    rm -f "$copy_file"
    f_transfer "$kIdFlashWrite" 8000h "" "$data_file"
    tq_wait_until "$1" f_written || f_fail "the write after the noise did not reach the flash"
    tq_drive settext "$kIdFileEdit" "$(tq_windows_path "$copy_file")" >/dev/null
    f_press_idle "$kIdFlashRead" "$1"
    tq_wait_until "$1" f_read_back || f_fail "the read after the noise did not complete"
    f_press_idle "$kIdApStop"
    f_within "$1" "the ap-stop after the noise got no answer" waitlog "R-  7 0230000003350D" "$1" nobox
}
f_written() { [[ $(f_dump_hex 0x8000 1024) == "$(f_file_hex "$data_file")" ]]; }
f_read_back() { [[ -f $copy_file ]] && cmp -s "$data_file" "$copy_file"; }

# noise_case MAKER BOUND: the noise, then normal traffic within BOUND seconds a step.
noise_case() {
    "$1" >"$noise"
    tq_drive settext "$kIdStartAddressEdit" 8000h settext "$kIdLengthEdit" 1024 >/dev/null
    f_clear_log
    f_watch_begin
    f_inject "$noise"
    # The noise crosses the line (a few milliseconds here); the traffic follows a quiet
    # second later, as an operator's next command would.
    sleep 1
    normal_traffic "$2"
    f_watch_end
    kill -0 "$TQ_PANEL_PID" 2>/dev/null || f_fail "the console has gone"
}

case_garbage() { noise_case make_garbage 8; }
case_oversize() {
    noise_case make_oversize 8
    # The complete over-long frames are logged with their declared length.
    f_log_has "R-513 0230FA01" 1
    f_log_has "R-607 02305802" 1
}
case_burst() { noise_case make_burst 8; }

f_run_cases garbage oversize burst
