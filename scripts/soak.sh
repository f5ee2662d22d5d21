#!/usr/bin/env bash
# soak.sh [ACTIONS] [--seed N] [--phase N]: random operator actions (1000 by default)
# against the real tq73panel.exe under Wine and the simulated TQ7300 with faults
# switched on, a new set of faults every --phase actions (100). The invariants (the
# window answers within a second, at most one worker, well-formed frames on the wire,
# at most 100 log lines, every operation ends, no crash) are checked throughout and
# counted; the seed is printed so that a failing run can be replayed with --seed.
# Ends non-zero on any violation. TQ_PANEL_EXE / TQ_DRIVE_EXE choose the console (the
# 64-bit one by default). See tests/e2e/soak.py.
set -u -o pipefail

here=$(cd "$(dirname "$0")" && pwd)
case ${1:-} in
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

# shellcheck source=scripts/wine-env.sh
source "$here/wine-env.sh"
tq_env_init
for f in "$TQ_PANEL_EXE" "$TQ_DRIVE_EXE" "$TQ_SIM" "$TQ_SHIM"; do
    if [[ ! -f $f ]]; then
        "$here/setup-deps.sh" && "$here/build.sh" || { echo "soak.sh: the build failed" >&2; exit 2; }
        break
    fi
done

die() { printf 'soak.sh: %s\n' "$*" >&2; exit 2; }
tq_session_begin || die "could not begin a Wine session"
tq_start_xvfb || die "no X server"
tq_prefix_ensure || die "no Wine prefix"
tq_map_port 1 "$TQ_COM1_LINK" || die "could not map COM1"
tq_start_wineserver shim || die "no wineserver"
export TQ_WORK TQ_WINE_LOADER TQ_PANEL_EXE TQ_DRIVE_EXE TQ_SIM TQ_COM1_LINK
export TQ_SAMPLE_MOT=${TQ_SAMPLE_MOT:-$TQ_ROOT/firmware/samples/tq1-sample.mot}
[[ -f $TQ_SAMPLE_MOT ]] || TQ_SAMPLE_MOT=

python3 "$TQ_ROOT/tests/e2e/soak.py" "$@" 9>&-
rc=$?
# A failed soak keeps its scratch folder (the simulator's frame-check files, sim.err).
exit "$rc"
