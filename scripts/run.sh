#!/usr/bin/env bash
# run.sh: build everything and run the console under Wine against the simulated TQ7300.
#
# With a DISPLAY, the console window opens there and this script waits until you close
# it. Without one, it runs on a private virtual screen and plays a short demo against
# the simulator paced at 38400 baud: open COM1, "ap-resume", the service panel (system
# menu, "Service panel"), "farm udt" of a full firmware image (firmware/make_full_image.py)
# until the update ends, with a screenshot half-way that shows its progress, then a
# flash read of 256 bytes from 0x3000 into build/run-flash-read.bin and a flash verify
# of that file against the unit; it prints the operator log as it grows, saves the
# screenshot to build/screenshot.png and exits 0 when every step worked.
#
# Options: --no-build   skip the dependency and build steps
# Settings: TQ_LOGPIXELS=144 shows the console at 150 % (default 96, 100 %); TQ_SCREEN
# the virtual screen (default 1280x1024x24); TQ_PREFIX_FONTS=system runs it with Wine's
# own fonts, as on a Western Windows (see scripts/wine-env.sh).
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=1
for arg in "$@"; do
    case $arg in
        --no-build) build=0 ;;
        -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

if ((build)); then
    "$here/setup-deps.sh" || { echo "run.sh: installing the dependencies failed" >&2; exit 1; }
    "$here/build.sh" || { echo "run.sh: the build failed" >&2; exit 1; }
fi

# shellcheck source=scripts/wine-env.sh
source "$here/wine-env.sh"

say() { printf '==> %s\n' "$*"; }
die() {
    printf 'run.sh: %s\n' "$*" >&2
    if [[ -n ${TQ_WORK:-} && -s $TQ_WORK/sim.err ]]; then
        echo "simulator said:" >&2
        tail -n 5 "$TQ_WORK/sim.err" >&2
    fi
    exit 1
}

interactive=0
if [[ -n ${DISPLAY:-} ]]; then
    interactive=1
    export TQ_USE_DISPLAY=1
fi

tq_session_begin || die "could not begin (is another run or test using the Wine prefix?)"
for f in "$TQ_PANEL_EXE" "$TQ_DRIVE_EXE" "$TQ_SIM"; do
    [[ -f $f ]] || die "missing $f; run scripts/build.sh"
done
# The demo's update writes a full image (192 pages, about 18 s at 38400 baud), so that
# its progress can be watched; TQ_SAMPLE_MOT picks another firmware file.
sample=${TQ_SAMPLE_MOT:-$TQ_BUILD/run-full-image.mot}
[[ -n ${TQ_SAMPLE_MOT:-} ]] || python3 "$TQ_ROOT/firmware/make_full_image.py" "$sample" ||
    die "could not write $sample"

# The window lays itself out to fit whatever screen it is on.
export TQ_SCREEN=${TQ_SCREEN:-1280x1024x24}
tq_start_xvfb || die "no X server"
tq_prefix_ensure || die "could not make the Wine prefix"
tq_map_port 1 "$TQ_COM1_LINK" || die "could not map COM1"
tq_set_logpixels "${TQ_LOGPIXELS:-96}" || die "could not set the display scale"
if [[ -f $TQ_SHIM ]]; then
    # On a pty, Wine's serial waits spin without the shim; with it they block as on a UART.
    tq_start_wineserver shim || die "no wineserver"
else
    tq_start_wineserver || die "no wineserver"
fi
rm -f "$TQ_COM1_LINK"
tq_start_sim "$TQ_COM1_LINK" --pace --flash-dump "$TQ_BUILD/run-flash.bin" ||
    die "the simulator did not start"
say "simulated TQ7300 on COM1 ($TQ_COM1_LINK), paced at 38400 baud"

panel_args=()
if [[ -f $sample ]]; then
    panel_args=("$(tq_windows_path "$sample")")
    say "firmware file: $sample"
fi
tq_start_panel "${panel_args[@]}" || die "the console did not start; see $TQ_WORK/panel.err"

if ((interactive)); then
    say "the console is open on $DISPLAY; close its window to end"
    while kill -0 "$TQ_PANEL_PID" 2>/dev/null; do
        sleep 0.5
    done
    rc=0
    wait "$TQ_PANEL_PID" 2>/dev/null || rc=$?
    TQ_PANEL_PID=
    say "the console has ended (exit code $rc)"
    exit "$rc"
fi

say "no DISPLAY: demo on a private screen ($DISPLAY)"
say "open COM1"
tq_drive text "$kIdPortEdit" 1 5 press "$kIdOpen" enabled "$kIdPortEdit" 0 15 nobox >/dev/null ||
    die "COM1 did not open"
say "ap-resume"
tq_drive run "$kIdApResume" "R- " 10 | sed 's/^/    log: /' || die "no answer to ap-resume"
status=0
say "service panel"
tq_drive syscmd "$kSysCmdServicePanel" visible "$kIdFlashRead" 1 10 >/dev/null ||
    die "the service panel did not show"

mkdir -p "$TQ_BUILD"
shot_taken=0
# The virtual screen is black around the window: trim it away.
screenshot() {
    if tq_screenshot "$TQ_WORK/screen.png" && convert "$TQ_WORK/screen.png" -trim +repage "$TQ_BUILD/screenshot.png"; then
        say "screenshot: $TQ_BUILD/screenshot.png"
        shot_taken=1
    else
        echo "run.sh: the screenshot failed" >&2
        status=1
    fi
}
# The status strip shows "update: page N of M, ..." once the pages are written.
half_way() { [[ $(tq_drive gettext "$kIdStatusText" 2>/dev/null) =~ page\ ([0-9]+)\ of\ ([0-9]+) ]] &&
    ((BASH_REMATCH[1] * 2 >= BASH_REMATCH[2])); }

if [[ -f $sample ]]; then
    say "farm udt"
    tq_drive press "$kIdFarmUpdate" >/dev/null || die "could not press farm udt"
    tq_wait_until 60 half_way && screenshot
    tq_drive watch "更新完了|更新失敗|機種が適合しません" 180 | sed 's/^/    log: /' ||
        die "the update did not finish"
    tq_drive waitlog "更新完了" 0 >/dev/null || status=1
    say "status: $(tq_drive gettext "$kIdStatusText")"
else
    say "no firmware file: skipping farm udt"
fi

say "flash read 3000h, 256 bytes"
read_file=$TQ_BUILD/run-flash-read.bin
rm -f "$read_file"
tq_drive settext "$kIdStartAddressEdit" 3000h settext "$kIdLengthEdit" 256 \
    settext "$kIdFileEdit" "$(tq_windows_path "$read_file")" >/dev/null ||
    die "the transfer edits cannot be set"
tq_drive run "$kIdFlashRead" "R-263" 20 | sed 's/^/    log: /' || die "the flash read got no answer"
read_done() { [[ -f $read_file && $(stat -c %s "$read_file") == 256 ]]; }
if tq_wait_until 10 read_done; then
    say "flash read into $read_file:"
    od -An -tx1 -N32 "$read_file" | sed 's/^/    /'
else
    echo "run.sh: the flash read did not write $read_file" >&2
    status=1
fi

say "status: $(tq_drive gettext "$kIdStatusText")"

# The file just read must be what the unit holds: flash verify compares them.
if [[ -f $read_file ]]; then
    say "flash verify 3000h against $read_file"
    verified() { [[ $(tq_drive gettext "$kIdStatusText" 2>/dev/null) == "flash verify 0x3000: 256 bytes equal"* ]]; }
    tq_drive settext "$kIdLengthEdit" "" click "$kIdFlashVerify" >/dev/null || die "could not press flash verify"
    if tq_wait_until 20 verified; then
        tq_drive nobox >/dev/null || status=1
    else
        echo "run.sh: the flash verify did not find the flash equal to the file" >&2
        status=1
    fi
    tq_drive log | grep -F "flash verify:" | sed 's/^/    log: /'
    say "status: $(tq_drive gettext "$kIdStatusText")"
fi
((shot_taken)) || screenshot

say "close"
tq_stop_panel 20
[[ $TQ_PANEL_RC == 0 ]] || { echo "run.sh: the console ended with exit code $TQ_PANEL_RC" >&2; status=1; }
((status == 0)) && say "demo finished" || echo "run.sh: the demo did not finish cleanly" >&2
exit "$status"
