# wine-env.sh: shared functions that run tq73panel.exe under Wine against the simulator.
# Source it from bash; call tq_session_begin first, which arms the clean-up trap.
#
# Everything a session starts (Xvfb, wineserver, the simulator, the console) is
# recorded here and ended by tq_session_end, which the EXIT trap calls. Every wait has
# a bound. Settings, all optional, from the environment:
#   TQ_ROOT        the source tree (default: the parent of this file's folder)
#   TQ_BUILD       the build folder (default: $TQ_ROOT/build)
#   TQ_PANEL_EXE   the console (default: $TQ_BUILD/win64/tq73panel.exe)
#   TQ_DRIVE_EXE   the driver (default: $TQ_BUILD/win64/tqdrive.exe); a 32-bit console
#                  (build/win32) wants the 32-bit driver beside it, whose tqprobe.dll
#                  must match the console's bitness to be hooked into it
#   TQ_WINE32_LOADER  Wine's 32-bit loader (default: /usr/lib/wine/wine)
#   TQ_SIM         the simulator (default: $TQ_BUILD/native/tq7300-sim)
#   TQ_SHIM        the pty shim (default: $TQ_BUILD/native/libtqptyshim.so)
#   TQ_COM1_LINK   the simulator's link that COM1 opens (default: $TQ_BUILD/link/com1)
#   TQ_PREFIX_FONTS  replaced (default): FixedSys and Tahoma stand replaced by VL Gothic,
#                  so that the template's font shows Japanese under Wine; system: Wine's
#                  own fonts as they come, as on a Western Windows, where the console must
#                  find a font with Japanese glyphs by itself; bitmap: as system, with
#                  Wine's own bitmap Fixedsys (vgafix.fon, an 8 x 15 cell that GDI
#                  doubles from about 150 %) as the template's font, as on Windows
#   TQ_WINEPREFIX  the Wine prefix (default: $TQ_BUILD/wineprefix, or
#                  $TQ_BUILD/wineprefix-sysfonts for TQ_PREFIX_FONTS=system,
#                  $TQ_BUILD/wineprefix-bitmapfonts for bitmap); made on
#                  first use. A WINEPREFIX from the environment is not used: a user's own
#                  prefix is no place for this set-up.
#   TQ_USE_DISPLAY 1: use the DISPLAY given instead of a private Xvfb
#   TQ_KEEP_WORK   1: keep the session's scratch folder for a post-mortem

TQ_WINE_LOADER=${TQ_WINE_LOADER:-/usr/lib/wine/wine64}
TQ_WINESERVER=${TQ_WINESERVER:-/usr/lib/wine/wineserver}
# Wine's 32-bit loader (wine32:i386); the 64-bit loader hands 32-bit programs to it.
TQ_WINE32_LOADER=${TQ_WINE32_LOADER:-/usr/lib/wine/wine}
# Bumped whenever the prefix set-up below changes, so that old prefixes are redone.
TQ_PREFIX_STAMP_TEXT="tq-prefix-2"

tq_log() { printf '[wine-env] %s\n' "$*" >&2; }

# The console's control and system-menu command ids by the names that shell/command_ids.h
# gives them (kIdOpen, kIdPortEdit, kSysCmdServicePanel, ...): the header numbers them,
# tests/e2e/command_ids.py reads them from it.
tq_ids=$(python3 "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/command_ids.py") ||
    { tq_log "could not read the control ids from shell/command_ids.h"; return 1; }
eval "$tq_ids"

# tq_wait_until SECS CMD...: run CMD every 0.1 s until it succeeds; 1 when time runs out.
tq_wait_until() {
    local bound=$1; shift
    local deadline=$((SECONDS + bound))
    while ! "$@"; do
        ((SECONDS >= deadline)) && return 1
        sleep 0.1
    done
}

# tq_wait_pid PID SECS: wait for a child of this shell to end; its exit code, or 124 on time-out.
tq_wait_pid() {
    local pid=$1 bound=$2
    if ! tq_wait_until "$bound" tq__pid_gone "$pid"; then
        return 124
    fi
    local rc=0
    wait "$pid" 2>/dev/null || rc=$?
    return "$rc"
}
tq__pid_gone() { ! kill -0 "$1" 2>/dev/null; }

# tq_stop_pid PID SECS [SIGNAL]: signal a process, wait, then SIGKILL after the bound.
tq_stop_pid() {
    local pid=$1 bound=$2 sig=${3:-TERM}
    [[ -n $pid ]] || return 0
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    kill -"$sig" "$pid" 2>/dev/null
    if ! tq_wait_until "$bound" tq__pid_gone "$pid"; then
        tq_log "pid $pid ignored SIG$sig for ${bound}s; killing it"
        kill -KILL "$pid" 2>/dev/null
        tq_wait_until 5 tq__pid_gone "$pid"
    fi
    wait "$pid" 2>/dev/null
    return 0
}

tq_env_init() {
    local here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    TQ_ROOT=${TQ_ROOT:-$(cd "$here/.." && pwd)}
    TQ_BUILD=${TQ_BUILD:-$TQ_ROOT/build}
    TQ_PANEL_EXE=${TQ_PANEL_EXE:-$TQ_BUILD/win64/tq73panel.exe}
    TQ_DRIVE_EXE=${TQ_DRIVE_EXE:-$TQ_BUILD/win64/tqdrive.exe}
    TQ_SIM=${TQ_SIM:-$TQ_BUILD/native/tq7300-sim}
    TQ_SHIM=${TQ_SHIM:-$TQ_BUILD/native/libtqptyshim.so}
    # Where the simulator puts its link to the pty; one path for every run, so that the
    # COM1 entry in the prefix's registry stays put and needs no rewrite.
    TQ_COM1_LINK=${TQ_COM1_LINK:-$TQ_BUILD/link/com1}
    TQ_PREFIX_FONTS=${TQ_PREFIX_FONTS:-replaced}
    case $TQ_PREFIX_FONTS in
        replaced) TQ_PREFIX_DEFAULT=$TQ_BUILD/wineprefix ;;
        system) TQ_PREFIX_DEFAULT=$TQ_BUILD/wineprefix-sysfonts ;;
        bitmap) TQ_PREFIX_DEFAULT=$TQ_BUILD/wineprefix-bitmapfonts ;;
        *) tq_log "TQ_PREFIX_FONTS is replaced, system or bitmap, not $TQ_PREFIX_FONTS"; return 1 ;;
    esac
    export WINEPREFIX=${TQ_WINEPREFIX:-$TQ_PREFIX_DEFAULT}
    export WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko: their install prompts would stall a prefix made without a user.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    # Wine turns command-line arguments into UTF-16 with the locale's character set;
    # a UTF-8 locale keeps the driver's Japanese patterns intact.
    export LC_ALL=C.UTF-8
    unset WINELOADER WINESERVER
}

# tq_session_begin: scratch folder, clean-up trap, the prefix lock.
tq_session_begin() {
    tq_env_init
    TQ_WORK=$(mktemp -d "${TMPDIR:-/tmp}/tq-e2e.XXXXXX")
    TQ_XVFB_PID='' TQ_XVFB_WAITER='' TQ_SIM_PID='' TQ_PANEL_PID='' TQ_PANEL_RC='' TQ_WINESERVER_STARTED='' TQ_WINESERVER_PID=''
    trap tq_session_end EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    mkdir -p "$(dirname "$WINEPREFIX")"
    # One session per prefix at a time: they would share its wineserver. Every program
    # started here gets 9>&-, so that none left running can hold the lock after us.
    exec 9>"$WINEPREFIX.lock"
    if ! flock -w 120 9; then
        tq_log "another session holds $WINEPREFIX.lock for more than 120 s"
        return 1
    fi
    tq_reap_orphans
}

# The processes of a session are listed in $WINEPREFIX.pids while they run. A session
# that was killed outright (SIGKILL runs no trap) leaves them behind; the next session
# ends them here, checking each command line so that a recycled pid is left alone.
tq__remember_pid() {
    printf '%s %s\n' "$1" "$2" >>"$WINEPREFIX.pids"
}
tq_reap_orphans() {
    local list="$WINEPREFIX.pids" pid name cmdline
    [[ -f $list ]] || return 0
    while read -r pid name; do
        [[ $pid =~ ^[0-9]+$ ]] || continue
        cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || continue
        if [[ $cmdline == *"$name"* ]]; then
            tq_log "ending pid $pid ($name) left by an earlier session"
            kill -KILL "$pid" 2>/dev/null
        fi
    done <"$list"
    : >"$list"
}

tq_session_end() {
    local rc=$?
    trap - EXIT INT TERM
    if [[ -n $TQ_PANEL_PID ]] && kill -0 "$TQ_PANEL_PID" 2>/dev/null; then
        tq_log "console still running at the end; killing it"
        tq_stop_pid "$TQ_PANEL_PID" 5 KILL
    fi
    TQ_PANEL_PID=
    if [[ -n $TQ_WINESERVER_STARTED ]]; then
        timeout 15 "$TQ_WINESERVER" -k >/dev/null 2>&1
        tq_stop_pid "$TQ_WINESERVER_PID" 10
        TQ_WINESERVER_STARTED='' TQ_WINESERVER_PID=''
    fi
    tq_stop_sim
    tq_stop_xvfb
    if [[ -n $TQ_WORK && -d $TQ_WORK ]]; then
        if [[ ${TQ_KEEP_WORK:-0} == 1 || $rc != 0 ]]; then
            tq_log "scratch folder kept: $TQ_WORK"
        else
            rm -rf "$TQ_WORK"
        fi
    fi
    : >"$WINEPREFIX.pids" 2>/dev/null
    exec 9>&- 2>/dev/null
    return "$rc"
}

# tq_start_xvfb: a private X server on a free display, unless TQ_USE_DISPLAY=1. Its screen
# is TQ_SCREEN (default 1280x1024x24); with VL Gothic standing in for FixedSys the dialog
# is about 1030 x 800 pixels, and about 1030 x 860 with the service panel shown.
# xvfb-run -a picks the display (the next one when a session started at the same moment
# takes it first) and ends the server once its command ends. That command reports the
# display and then waits for this shell, so that a session killed outright leaves no
# server behind.
tq_start_xvfb() {
    if [[ ${TQ_USE_DISPLAY:-0} == 1 && -n ${DISPLAY:-} ]]; then
        tq_log "using DISPLAY=$DISPLAY"
        return 0
    fi
    local info=$TQ_WORK/xvfb.display
    # shellcheck disable=SC2016 # expanded by the command that xvfb-run starts
    xvfb-run -a -e "$TQ_WORK/xvfb.log" -s "-screen 0 ${TQ_SCREEN:-1280x1024x24}" \
        sh -c 'echo "$$ $DISPLAY $XAUTHORITY" >"$1.new" && mv "$1.new" "$1" &&
               exec tail --pid="$2" -s 0.5 -f /dev/null' tq-xvfb "$info" "$$" \
        </dev/null >/dev/null 2>&1 9>&- &
    TQ_XVFB_PID=$!
    if ! tq_wait_until 20 tq__xvfb_reported "$info" || [[ ! -s $info ]]; then
        tq_log "no Xvfb could be started; see $TQ_WORK/xvfb.log"
        tq_stop_xvfb
        return 1
    fi
    read -r TQ_XVFB_WAITER DISPLAY XAUTHORITY <"$info"
    export DISPLAY XAUTHORITY
    tq_log "Xvfb on $DISPLAY (xvfb-run pid $TQ_XVFB_PID)"
}
tq__xvfb_reported() {
    [[ -s $1 ]] || ! kill -0 "$TQ_XVFB_PID" 2>/dev/null
}
# tq_stop_xvfb: ends xvfb-run's command, upon which xvfb-run ends its server (a signal to
# xvfb-run itself would end it without the server).
tq_stop_xvfb() {
    [[ -n $TQ_XVFB_PID ]] || return 0
    [[ -n $TQ_XVFB_WAITER ]] && kill "$TQ_XVFB_WAITER" 2>/dev/null
    tq_wait_until 10 tq__pid_gone "$TQ_XVFB_PID" || tq_log "xvfb-run did not end in 10 s"
    tq_stop_pid "$TQ_XVFB_PID" 5
    TQ_XVFB_PID='' TQ_XVFB_WAITER=''
}

# tq_wine CMD...: one Wine program, bounded; for the set-up steps.
tq_wine() {
    timeout 120 "$TQ_WINE_LOADER" "$@" 9>&-
}

# tq_kill_stale_wineserver: a wineserver left by an earlier, interrupted run of this
# prefix would serve the new processes with its old environment (without the shim, say)
# and its old device map; end it before anything else.
tq_kill_stale_wineserver() {
    timeout 15 "$TQ_WINESERVER" -k >/dev/null 2>&1
    timeout 15 "$TQ_WINESERVER" -w >/dev/null 2>&1
    return 0
}

# A wineserver for set-up steps: a child of this shell (so that it is reaped, where a
# self-daemonised one would be left to init), ending by itself a moment after its last
# client, which is also when it has written the registry back to the prefix's files.
tq__setup_server_begin() {
    "$TQ_WINESERVER" -f >>"$TQ_WORK/wineserver.log" 2>&1 9>&- &
    TQ_WINESERVER_PID=$!
    TQ_WINESERVER_STARTED=1
    tq_wait_until 10 tq__wineserver_ready || { tq_log "wineserver did not start"; return 1; }
}
tq__setup_server_end() {
    timeout 60 "$TQ_WINESERVER" -w >/dev/null 2>&1
    local rc=0
    tq_wait_pid "$TQ_WINESERVER_PID" 30 || rc=$?
    if [[ $rc == 124 ]]; then
        tq_log "the set-up wineserver did not end; killing it"
        timeout 15 "$TQ_WINESERVER" -k >/dev/null 2>&1
        tq_stop_pid "$TQ_WINESERVER_PID" 10
    fi
    TQ_WINESERVER_STARTED='' TQ_WINESERVER_PID=''
    return 0
}

# tq_prefix_ensure: make the Wine prefix once, with the Japanese font replacements.
tq_prefix_ensure() {
    tq_kill_stale_wineserver
    local stamp="$WINEPREFIX/.tq-prefix"
    local stamp_text=$TQ_PREFIX_STAMP_TEXT
    [[ $TQ_PREFIX_FONTS == replaced ]] || stamp_text+=" fonts=$TQ_PREFIX_FONTS"
    if [[ -f $stamp && $(<"$stamp") == "$stamp_text" ]] && tq__prefix_has_wow64; then
        return 0
    fi
    # Redo a prefix of an older set-up or one whose making was cut short, but never
    # remove a folder that this script did not make.
    if [[ -d $WINEPREFIX && ! -f $stamp && -n $(ls -A "$WINEPREFIX") &&
          $WINEPREFIX != "$TQ_PREFIX_DEFAULT" ]]; then
        tq_log "$WINEPREFIX is not empty and was not made here; not touching it"
        return 1
    fi
    tq_log "making the Wine prefix $WINEPREFIX (once; about 15 s)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    tq__setup_server_begin || return 1
    if ! tq_wine wineboot -i >"$TQ_WORK/wineboot.log" 2>&1; then
        tq_log "wineboot -i failed; see $TQ_WORK/wineboot.log"
        tq__setup_server_end
        return 1
    fi
    # FixedSys (the dialog font) and Tahoma (the message box font) have no Japanese
    # glyphs in Wine; VL Gothic has them.
    local key='HKCU\Software\Wine\Fonts\Replacements' face
    if [[ $TQ_PREFIX_FONTS == replaced ]]; then
        for face in FixedSys Tahoma; do
            tq_wine reg add "$key" /v "$face" /t REG_SZ /d "VL Gothic" /f >>"$TQ_WORK/wineboot.log" 2>&1 || {
                tq_log "reg add $face failed"; tq__setup_server_end; return 1; }
        done
    fi
    tq__setup_server_end || return 1
    [[ $TQ_PREFIX_FONTS != bitmap ]] || tq__prefix_bitmap_fixedsys || return 1
    printf '%s\n' "$stamp_text" >"$stamp"
}

# This Wine does not find its own fonts (fonts-wine's /usr/share/wine/fonts) by
# itself: FixedSys then comes out as a scalable face. Wine loads the font that the
# registry names FIXEDFON.FON (vgafix.fon) from the prefix's Fonts folder as a bitmap
# font, drawn in its one cell or a whole multiple of it, as Windows draws FixedSys.
TQ_BITMAP_FIXEDSYS=${TQ_BITMAP_FIXEDSYS:-/usr/share/wine/fonts/vgafix.fon}
tq__prefix_bitmap_fixedsys() {
    if [[ ! -f $TQ_BITMAP_FIXEDSYS ]]; then
        tq_log "no bitmap Fixedsys at $TQ_BITMAP_FIXEDSYS (Debian: fonts-wine)"; return 1
    fi
    cp "$TQ_BITMAP_FIXEDSYS" "$WINEPREFIX/drive_c/windows/Fonts/vgafix.fon"
}

# tq_set_logpixels DPI: the prefix's display scale (96 is 100 %, 144 is 150 %), which
# Wine reads from the registry when its wineserver starts; hence the wait for it to end.
# Set for every session that cares, since the prefix keeps it.
tq_set_logpixels() {
    local dpi=$1 want
    want=$(printf '"LogPixels"=dword:%08x' "$dpi")
    if sed -n '/^\[Control Panel\\\\Desktop\]/,/^\[/p' "$WINEPREFIX/user.reg" 2>/dev/null | grep -qxF "$want"; then
        return 0
    fi
    tq_kill_stale_wineserver
    tq__setup_server_begin || return 1
    tq_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || {
        tq_log "could not set LogPixels to $dpi"; tq__setup_server_end; return 1; }
    tq__setup_server_end
}

# A prefix made before Wine's 32-bit side was installed has no syswow64 and cannot
# run a 32-bit program; it is made anew once that side is there.
tq__prefix_has_wow64() {
    [[ ! -x $TQ_WINE32_LOADER || -d $WINEPREFIX/drive_c/windows/syswow64 ]]
}

# tq_pe_machine FILE: the machine field of a Windows program's PE header, e.g. 014c
# (i386) or 8664 (x86-64); nothing when FILE is not a PE file.
tq_pe_machine() {
    local pe
    pe=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
    [[ -n $pe ]] || return 1
    [[ $(od -An -c -j "$pe" -N 2 "$1" 2>/dev/null | tr -d ' ') == PE ]] || return 1
    od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

# tq_wine32_missing: why this machine cannot run a 32-bit Windows program (nothing and
# status 1 when it can): Wine's 32-bit loader must be installed and must run here.
tq_wine32_missing() {
    if [[ ! -x $TQ_WINE32_LOADER ]]; then
        echo "no 32-bit Wine loader at $TQ_WINE32_LOADER (Debian: wine32:i386; scripts/setup-deps.sh installs it)"
        return 0
    fi
    local out
    if ! out=$(timeout 30 "$TQ_WINE32_LOADER" --version 2>&1); then
        echo "$TQ_WINE32_LOADER does not run here: ${out:-no output}"
        return 0
    fi
    return 1
}

# tq_map_port N PATH: COMn opens PATH. Wine makes dosdevices links of its own for
# /dev/ttyS* and overwrites links placed there by hand, so the map goes in the registry,
# which Wine reads when its wineserver starts; hence the wait for the server to end.
tq_map_port() {
    local n=$1 path=$2
    if grep -qxF "\"COM$n\"=\"$path\"" "$WINEPREFIX/system.reg" 2>/dev/null; then
        return 0
    fi
    tq_kill_stale_wineserver
    tq__setup_server_begin || return 1
    tq_wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$path" /f >/dev/null 2>&1 || {
        tq_log "could not map COM$n to $path"; tq__setup_server_end; return 1; }
    tq__setup_server_end || return 1
    grep -qxF "\"COM$n\"=\"$path\"" "$WINEPREFIX/system.reg" || {
        tq_log "COM$n map did not reach $WINEPREFIX/system.reg"; return 1; }
}

# tq_start_wineserver [shim]: the session's wineserver, started before any program so
# that every Wine process of the session, and the server, gets the same environment.
# With "shim", LD_PRELOAD carries the pty shim into all of them.
tq_start_wineserver() {
    tq_kill_stale_wineserver
    if [[ ${1:-} == shim ]]; then
        if [[ ! -f $TQ_SHIM ]]; then
            tq_log "no pty shim at $TQ_SHIM"; return 1
        fi
        export LD_PRELOAD=$TQ_SHIM
        export TQPTYSHIM_LOG=$TQ_WORK/shim.log
        : >"$TQPTYSHIM_LOG"
    else
        unset LD_PRELOAD TQPTYSHIM_LOG
    fi
    # In the foreground as a child of this shell, so that the session can reap it.
    "$TQ_WINESERVER" -p -f >"$TQ_WORK/wineserver.log" 2>&1 9>&- &
    TQ_WINESERVER_PID=$!
    TQ_WINESERVER_STARTED=1
    if ! tq_wait_until 10 tq__wineserver_ready; then
        tq_log "wineserver did not start; see $TQ_WORK/wineserver.log"
        return 1
    fi
}
tq__wineserver_ready() {
    kill -0 "$TQ_WINESERVER_PID" 2>/dev/null || return 1
    local dev ino devino sock
    read -r dev ino < <(stat -L -c '%d %i' "$WINEPREFIX")
    devino=$(printf '%x-%x' "$dev" "$ino")
    # Debian's Wine keeps the socket under a random /tmp/wine-* folder, upstream's
    # under /tmp/.wine-UID.
    for sock in "${TMPDIR:-/tmp}"/wine-*/server-"$devino"/socket /tmp/.wine-"$(id -u)"/server-"$devino"/socket; do
        [[ -S $sock ]] && return 0
    done
    return 1
}

# tq_shim_took_effect PID: the shim answered a modem-line request in process PID.
tq_shim_took_effect() {
    [[ -n ${TQPTYSHIM_LOG:-} ]] && grep -q "^ptyshim pid=$1 " "$TQPTYSHIM_LOG"
}

# tq_start_sim LINK [OPTIONS...]: the simulator on a pty reached through LINK; waits
# for its READY line. Output in $TQ_WORK/sim.out and sim.err.
tq_start_sim() {
    local link=$1; shift
    if [[ ! -x $TQ_SIM ]]; then
        tq_log "no simulator at $TQ_SIM"; return 1
    fi
    : >"$TQ_WORK/sim.out"
    mkdir -p "$(dirname "$link")"
    # Not under LD_PRELOAD: the shim is for Wine's side of the line only.
    env -u LD_PRELOAD "$TQ_SIM" --link "$link" "$@" >"$TQ_WORK/sim.out" 2>"$TQ_WORK/sim.err" 9>&- &
    TQ_SIM_PID=$!
    tq__remember_pid "$TQ_SIM_PID" "$TQ_SIM"
    if ! tq_wait_until 10 tq__sim_ready; then
        tq_log "the simulator did not say READY in 10 s; stderr:"
        sed 's/^/  sim: /' "$TQ_WORK/sim.err" >&2
        return 1
    fi
}
tq__sim_ready() {
    grep -q '^READY ' "$TQ_WORK/sim.out" 2>/dev/null && return 0
    kill -0 "$TQ_SIM_PID" 2>/dev/null || return 1
    return 1
}

# tq_stop_sim: SIGTERM, so that it writes its flash dump and removes its link.
tq_stop_sim() {
    if [[ -n ${TQ_SIM_PID:-} ]]; then
        tq_stop_pid "$TQ_SIM_PID" 10
        TQ_SIM_PID=
    fi
}

# tq_start_panel [ARGS...]: the console in the background from folder ${TQ_PANEL_CWD:-$TQ_WORK};
# waits for its window. ARGS become its command-line tail.
tq_start_panel() {
    if [[ ! -f $TQ_PANEL_EXE ]]; then
        tq_log "no console at $TQ_PANEL_EXE"; return 1
    fi
    (cd "${TQ_PANEL_CWD:-$TQ_WORK}" && exec "$TQ_WINE_LOADER" "$TQ_PANEL_EXE" "$@") \
        >"$TQ_WORK/panel.out" 2>"$TQ_WORK/panel.err" 9>&- &
    TQ_PANEL_PID=$!
    TQ_PANEL_RC=
    if ! tq_drive window 60; then
        tq_log "the console window did not appear"
        return 1
    fi
}

# tq_stop_panel [SECS]: close the console with WM_CLOSE; TQ_PANEL_RC gets its exit code.
tq_stop_panel() {
    local bound=${1:-15}
    [[ -n $TQ_PANEL_PID ]] || return 0
    if kill -0 "$TQ_PANEL_PID" 2>/dev/null; then
        tq_drive close "$bound" || tq_log "WM_CLOSE did not end the console"
    fi
    TQ_PANEL_RC=0
    tq_wait_pid "$TQ_PANEL_PID" "$bound" || TQ_PANEL_RC=$?
    if [[ $TQ_PANEL_RC == 124 ]]; then
        tq_stop_pid "$TQ_PANEL_PID" 5 KILL
    fi
    TQ_PANEL_PID=
    return 0
}

# tq_drive STEPS...: run tqdrive.exe with a bound that covers its own step bounds.
# A failed step always says why; a driver that ends with exit code 1 without a word
# never ran: on a machine with every core busy Wine now and then ends a process so
# at its start (about once in 4,000 starts here). It is started once more.
tq_drive() {
    local err rc attempt
    err=$(mktemp "${TQ_WORK:-/tmp}/drive-err.XXXXXX") || return 1
    for attempt in 1 2; do
        timeout "${TQ_DRIVE_BOUND:-180}" "$TQ_WINE_LOADER" "$TQ_DRIVE_EXE" "$@" 2>"$err" 9>&-
        rc=$?
        [[ $rc == 1 && ! -s $err ]] || break
        tq_log "tqdrive ended with exit code 1 without a word (start $attempt); starting it again"
    done
    cat "$err" >&2
    rm -f "$err"
    return "$rc"
}

# tq_screenshot FILE: the whole virtual screen.
tq_screenshot() {
    timeout 30 import -display "$DISPLAY" -window root "$1"
}

# tq_windows_path PATH: the Z: drive form of an absolute Unix path.
tq_windows_path() {
    local p=$1
    printf 'Z:%s' "${p//\//\\}"
}

# tq_hex FILE: the file's bytes as one line of upper-case hex.
tq_hex() {
    od -An -v -tx1 "$1" | tr -d ' \n' | tr a-f A-F
}
