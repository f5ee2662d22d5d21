#!/usr/bin/env bash
# The packages as users get them. Usage: package_test.sh GROUP
#   build         scripts/package.sh --no-build makes the three packages and SHA256SUMS
#                 into $TQ_PACKAGES, and nothing else anywhere in the source tree
#   lintian       no errors; every warning is one of KEPT_WARNINGS below
#   deb_contents  exactly the files listed, with their modes, root-owned, binaries
#                 stripped; the control fields and computed Depends; apt would install
#                 it (apt-get -s, which changes nothing)
#   deb_run       from the extracted .deb, with no build tree on the PATH: --version,
#                 --sim update of the sample, and its tq7300-sim serving its tq73
#   man           both pages render with no warnings and name every command and
#                 option that the program's --help prints
#   completion    the commands after "tq73 ", the options after "tq73 -", and the
#                 arguments of a table of command lines
#   signed        package.sh --sign with a throwaway certificate: the zips' programs
#                 verify; those of the packages made without it carry no signature
# Needs TQ_ROOT, TQ_BUILD, TQ_PACKAGES, TQ_VERSION. Never installs anything.
set -u -o pipefail
group=${1:?usage: package_test.sh GROUP}
V=$TQ_VERSION
DEB=$TQ_PACKAGES/tq7300-console_${V}_amd64.deb
ZIPS=("tq7300-console-$V-windows-x64.zip" "tq7300-console-$V-windows-x86.zip")
DOC=usr/share/doc/tq7300-console
failures=0

check() {  # OK WHAT [DETAIL]
    if [[ $1 == 0 ]]; then
        echo "ok   $2"
    else
        echo "FAIL $2${3:+: $3}"
        failures=$((failures + 1))
    fi
}
is() { [[ $1 == "$2" ]] && echo 0 || echo 1; }

# The .deb extracted into a scratch folder, removed at exit.
extract() {
    X=$(mktemp -d "${TMPDIR:-/tmp}/tq-deb.XXXXXX")
    trap 'stop_sim; rm -rf "$X"' EXIT
    dpkg-deb -x "$DEB" "$X" || { echo "FAIL dpkg-deb -x $DEB"; exit 1; }
}

# ---- build ---------------------------------------------------------------------
untracked() { git -C "$TQ_ROOT" status --porcelain --untracked-files=all 2>/dev/null | grep '^??' | sort; }

test_build() {
    local before after
    before=$(untracked)
    rm -rf "$TQ_PACKAGES"
    TQ_BUILD=$TQ_BUILD "$TQ_ROOT/scripts/package.sh" --no-build --out "$TQ_PACKAGES"
    check $? "scripts/package.sh --no-build"
    check "$(is "$(cd "$TQ_PACKAGES" && ls -A | sort | tr '\n' ' ')" \
        "$(printf '%s\n' SHA256SUMS "$(basename "$DEB")" "${ZIPS[@]}" | sort | tr '\n' ' ')")" \
        "exactly the three packages and SHA256SUMS" "$(ls -A "$TQ_PACKAGES" | tr '\n' ' ')"
    (cd "$TQ_PACKAGES" && sha256sum --quiet -c SHA256SUMS)
    check $? "SHA256SUMS holds the packages' sums"
    after=$(untracked)
    check "$(is "$after" "$before")" "no new files in the source tree" "$(diff <(echo "$before") <(echo "$after"))"
}

# ---- lintian -------------------------------------------------------------------
# Warnings kept, each for a reason given in the README ("Packages"). A warning not
# listed fails the test, so that none is kept without a word.
KEPT_WARNINGS=(
)

test_lintian() {
    local out tag
    out=$(lintian --display-level '>=warning' "$DEB" 2>&1 | grep -v 'running with root privileges')
    [[ -n $out ]] && printf '%s\n' "$out" | sed 's/^/  lintian: /'
    ! grep -q '^E: ' <<<"$out"
    check $? "lintian: no errors"
    while read -r tag; do
        [[ -z $tag ]] && continue
        local kept=1 k
        for k in "${KEPT_WARNINGS[@]}"; do [[ $tag == "$k" ]] && kept=0; done
        check "$kept" "lintian warning $tag is one of those kept"
    done < <(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' <<<"$out" | sort -u)
}

# ---- deb_contents --------------------------------------------------------------
# MODE PATH of every file; every directory is drwxr-xr-x.
EXPECTED_FILES="-rwxr-xr-x ./usr/bin/tq73
-rwxr-xr-x ./usr/bin/tq7300-sim
-rw-r--r-- ./usr/share/bash-completion/completions/tq73
-rw-r--r-- ./$DOC/README.md.gz
-rw-r--r-- ./$DOC/changelog.gz
-rw-r--r-- ./$DOC/copyright
-rw-r--r-- ./$DOC/examples/tq1-sample.mot
-rw-r--r-- ./usr/share/man/man1/tq73.1.gz
-rw-r--r-- ./usr/share/man/man1/tq7300-sim.1.gz
-rw-r--r-- ./usr/lib/x86_64-linux-gnu/wireshark/plugins/tq7300.lua"

test_deb_contents() {
    local listing files dirs owners
    listing=$(dpkg-deb -c "$DEB") || { check 1 "dpkg-deb -c"; return; }
    files=$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing" | sort)
    check "$(is "$files" "$(sort <<<"$EXPECTED_FILES")")" "the .deb holds exactly the files listed, with their modes" \
        "$(diff <(sort <<<"$EXPECTED_FILES") <(echo "$files"))"
    dirs=$(awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" { print $1, $6 }' <<<"$listing")
    check "$(is "$dirs" "")" "every directory is 755" "$dirs"
    owners=$(awk '$2 != "root/root" { print $2, $6 }' <<<"$listing")
    check "$(is "$owners" "")" "everything belongs to root" "$owners"
    check "$(is "$(dpkg-deb -f "$DEB" Package Version Architecture | tr '\n' ' ')" \
        "Package: tq7300-console Version: $V Architecture: amd64 ")" "control: name, version, architecture"
    local depends
    depends=$(dpkg-deb -f "$DEB" Depends)
    [[ $depends == *"libc6 (>="* && $depends == *libstdc++6* ]]
    check $? "Depends computed from the binaries (libc6, libstdc++6 with versions)" "$depends"
    # What the README's "sudo apt install ./...deb" does, simulated: nothing changes.
    local apt
    apt=$(apt-get -s install "$DEB" 2>&1)
    check $? "apt-get -s install: the package would install here" "$(tail -n 3 <<<"$apt")"
    extract
    local b
    for b in tq73 tq7300-sim; do
        file -b "$X/usr/bin/$b" | grep -q ', stripped'
        check $? "$b is stripped" "$(file -b "$X/usr/bin/$b")"
    done
    cmp -s "$X/$DOC/examples/tq1-sample.mot" "$TQ_ROOT/firmware/samples/tq1-sample.mot"
    check $? "the sample firmware is the repository's"
    check "$(is "$(zcat "$X/$DOC/changelog.gz" | head -1)" "tq7300-console ($V) unstable; urgency=medium")" \
        "the changelog's entry is this version"
}

# ---- deb_run -------------------------------------------------------------------
# Run from the extracted folder with a PATH that holds it and the system only: no
# program of the build tree can stand in for the packaged one.
run() { (cd "$X" && env -i PATH="$X/usr/bin:/usr/bin:/bin" LC_ALL=C.UTF-8 HOME="$X" timeout 120 "$@"); }

SIM_PID=
stop_sim() { [[ -n $SIM_PID ]] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null; SIM_PID=; }

test_deb_run() {
    extract
    local out sample=$X/$DOC/examples/tq1-sample.mot b
    for b in tq73 tq7300-sim; do
        out=$(run "$b" --version)
        check $? "$b --version exits 0"
        [[ $out =~ ^$b\ $V\ \(commit\ [0-9a-f]{7}(-dirty)?\)$ || $out == "$b $V (commit unknown)" ]]
        check $? "$b --version: program, version, commit" "$out"
    done
    out=$(run tq73 -V)
    check $? "tq73 -V exits 0" "$out"
    # --sim runs the simulated unit inside tq73 itself: nothing on disk to find.
    out=$(run tq73 --sim update "$sample" 2>&1)
    check $? "tq73 --sim update of the sample exits 0" "$(tail -n 3 <<<"$out")"
    grep -q '更新完了' <<<"$out"
    check $? "the update's log says 更新完了"
    # The packaged dissector, where Debian's tshark looks for Lua plugins, reads
    # a capture of the packaged tq73.
    out=$(run tq73 --sim --capture "$X/update.pcapng" update "$sample" 2>&1)
    check $? "tq73 --sim --capture update exits 0" "$(tail -n 3 <<<"$out")"
    out=$(tshark -X "lua_script:$X/usr/lib/x86_64-linux-gnu/wireshark/plugins/tq7300.lua" -r "$X/update.pcapng" \
        -T fields -e tq7300.text 2>&1 | grep -v 'Running as user')
    check "$(is "$(head -2 <<<"$out" | tr '\n' '|')" \
        "model request p (0x70)|answer to model request p (0x70): accepted|")" \
        "tshark with the packaged dissector reads the capture" "$(head -3 <<<"$out")"
    # The packaged simulator serves the packaged tq73 over a pty.
    (cd "$X" && exec env -i PATH="$X/usr/bin" "$X/usr/bin/tq7300-sim" --link "$X/unit" >"$X/sim.out" 2>&1) &
    SIM_PID=$!
    local waited=0
    until grep -q '^READY' "$X/sim.out" 2>/dev/null || ((waited >= 100)); do sleep 0.1; waited=$((waited + 1)); done
    check "$(grep -q '^READY' "$X/sim.out" && echo 0 || echo 1)" "the packaged tq7300-sim is ready" "$(cat "$X/sim.out")"
    out=$(run tq73 --quiet --port "$X/unit" update "$sample" 2>&1)
    check $? "tq73 --port (the packaged simulator) update exits 0" "$out"
    out=$(run tq73 --quiet --port "$X/unit" verify "$sample" 2>&1)
    check $? "tq73 verify of the sample after it exits 0" "$out"
    stop_sim
}

# ---- man -----------------------------------------------------------------------
# The words a program's --help names: options (-x, --xxx) and, for tq73, the
# commands of its "commands:" block.
help_words() {  # PROGRAM
    local help
    help=$("$X/usr/bin/$1" --help) || return 1
    grep -oE '(^|[] ,[|(])--?[A-Za-z][-A-Za-z0-9]*' <<<"$help" | sed -E 's/^[] ,[|(]//'
    [[ $1 == tq73 ]] && help_commands
}
help_commands() {
    "$X/usr/bin/tq73" --help | sed -n '/^commands:/,/^$/p' | sed -n 's/^  \([a-z0-9]\+\).*/\1/p'
}

test_man() {
    extract
    local page gz err text word source
    for page in tq73 tq7300-sim; do
        gz=$X/usr/share/man/man1/$page.1.gz
        err=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null)
        check "$(is "$err" "")" "man -l $page.1.gz: no warnings" "$err"
        text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$gz" 2>/dev/null)
        grep -q "tq7300-console $V" <<<"$text"
        check $? "$page(1) names version $V"
        local section
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
            grep -q "^$section" <<<"$text"
            check $? "$page(1) has $section"
        done
        # The page's source with roff's escapes for '-' and fonts taken out.
        source=$(zcat "$gz" | sed -E 's/\\-/-/g; s/\\f[BIRP]//g')
        local missing=()
        while read -r word; do
            grep -qE -- "(^|[^-A-Za-z0-9])$word([^-A-Za-z0-9]|$)" <<<"$source" || missing+=("$word")
        done < <(help_words "$page" | sort -u)
        check "$(is "${missing[*]}" "")" "$page(1) names every command and option of $page --help" "${missing[*]}"
    done
}

# ---- completion ----------------------------------------------------------------
# complete WORD...: what the packaged completion offers for the last WORD, sorted,
# one a line, with bash as it completes "tq73 WORD...".
complete_words() {
    bash --norc --noprofile -c '
        source "$1" || exit 1
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _tq73 tq73 "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$X/usr/share/bash-completion/completions/tq73" "$@"
}

test_completion() {
    extract
    local got want
    bash --norc --noprofile -c 'source "$1" && complete -p tq73' _ "$X/usr/share/bash-completion/completions/tq73" |
        grep -q -- '-F _tq73 tq73'
    check $? "the completion is registered for tq73"
    want=$(help_commands | sort -u)
    got=$(complete_words tq73 "")
    check "$(is "$got" "$want")" "after 'tq73 ': the commands of --help" "$(diff <(echo "$want") <(echo "$got"))"
    want=$(help_words tq73 | grep '^-' | sort -u)
    got=$(complete_words tq73 -)
    check "$(is "$got" "$want")" "after 'tq73 -': the options of --help" "$(diff <(echo "$want") <(echo "$got"))"

    local dir
    dir=$(mktemp -d "$X/files.XXXXXX")
    : >"$dir/unit.mot"
    : >"$dir/flash.bin"
    local ports
    ports=$(for p in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do [[ -e $p ]] && echo "$p"; done | sort)
    # words | what the last one completes to (one a line, \n separated)
    local cases=(
        "--port |$ports"
        "--port = |$ports"
        "--port =|$ports"
        "--port = /dev/ttyUSB0 re|read\nrecover\nrequest62\nresume"
        "--port = /dev/ttyUSB0 update $dir/u|$dir/unit.mot"
        "--sim re|read\nrecover\nrequest62\nresume"
        "clock |get\nset"
        "-q param |0\n1\n2\n3"
        "update $dir/u|$dir/unit.mot"
        "--port /dev/ttyUSB0 recover $dir/u|$dir/unit.mot"
        "--sim read 0 10 $dir/f|$dir/flash.bin"
        "write 3000h $dir/f|$dir/flash.bin"
        "verify 3000h $dir/u|$dir/unit.mot"
        "stop |"
        "monitor --seconds |"
    )
    local c words
    for c in "${cases[@]}"; do
        read -r -a words <<<"${c%%|*}"
        [[ ${c%%|*} == *" " ]] && words+=("")
        want=$(printf '%b' "${c#*|}")
        got=$(complete_words tq73 "${words[@]}")
        check "$(is "$got" "$want")" "tq73 ${c%%|*}<TAB>" "got: $(tr '\n' ' ' <<<"$got")"
    done
}

# ---- signed --------------------------------------------------------------------
# scripts/package.sh --sign with a throwaway certificate made here: both programs of
# both zips carry a signature that osslsigncode verifies against it; the packages made
# without --sign, and the build tree's programs, carry none.
test_signed() {
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/tq-sign.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
        -subj "/CN=TQ7300 package test" 2>/dev/null && printf throwaway >pass &&
        openssl pkcs12 -export -out cert.pfx -inkey key.pem -in cert.pem -passout file:pass)
    check $? "a throwaway certificate"
    TQ_BUILD=$TQ_BUILD "$TQ_ROOT/scripts/package.sh" --no-build --out "$work/out" --sign "$work/cert.pfx" \
        --pass-file "$work/pass" >"$work/package.log" 2>&1
    check $? "scripts/package.sh --sign" "$(tail -n 5 "$work/package.log")"
    local zip exe said
    for zip in "${ZIPS[@]}"; do
        mkdir -p "$work/${zip%.zip}" "$work/plain-${zip%.zip}"
        unzip -q "$work/out/$zip" -d "$work/${zip%.zip}"
        unzip -q "$TQ_PACKAGES/$zip" -d "$work/plain-${zip%.zip}"
        for exe in tq73panel.exe tq73.exe; do
            said=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$work/${zip%.zip}/${zip%.zip}/$exe" 2>&1)
            check "$(grep -q '^Signature verification: ok' <<<"$said" && echo 0 || echo 1)" "$zip: $exe signed" \
                "$(tail -n 3 <<<"$said")"
            said=$(osslsigncode verify -in "$work/plain-${zip%.zip}/${zip%.zip}/$exe" 2>&1)
            check "$(grep -q 'No signature found' <<<"$said" && echo 0 || echo 1)" "$zip without --sign: $exe unsigned"
        done
    done
    said=$(osslsigncode verify -in "$TQ_BUILD/win64/tq73.exe" 2>&1)
    check "$(grep -q 'No signature found' <<<"$said" && echo 0 || echo 1)" "the build tree's tq73.exe is left unsigned"
}

case $group in
    build) test_build ;;
    signed) test_signed ;;
    lintian) test_lintian ;;
    deb_contents) test_deb_contents ;;
    deb_run) test_deb_run ;;
    man) test_man ;;
    completion) test_completion ;;
    *) echo "unknown group $group" >&2; exit 2 ;;
esac
[[ -f $DEB ]] || { echo "FAIL no $DEB"; exit 1; }
echo "$group: $failures failed"
((failures == 0))
