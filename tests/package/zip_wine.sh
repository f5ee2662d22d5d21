#!/usr/bin/env bash
# A zip as a Windows engineer gets it: unzipped into a folder of its own, exactly
# tq73panel.exe, tq73.exe, README.txt (CR LF line ends) and the sample firmware, both
# programs of the zip's architecture; tq73.exe --version; tq73panel.exe started under
# Wine from that folder, its About box (the version of its VERSIONINFO) opened from the
# system menu and closed, then the window closed with exit code 0.
# Usage: zip_wine.sh x64|x86 TQDRIVE_EXE (a driver of the console's bitness).
set -u
arch=$1
export TQ_DRIVE_EXE=$2
V=$TQ_VERSION
name=tq7300-console-$V-windows-$arch
unpacked=$TQ_PACKAGES/unzipped-$arch
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$TQ_PACKAGES/$name.zip" -d "$unpacked" || { echo "FAIL unzip $name.zip"; exit 1; }
dir=$unpacked/$name
export TQ_PANEL_EXE=$dir/tq73panel.exe
# shellcheck source=tests/e2e/common.sh
source "$TQ_ROOT/tests/e2e/common.sh"
E2E_NAME=zip_$arch

files=$(cd "$unpacked" && find . -type f | sort | tr '\n' ' ')
want="./$name/README.txt ./$name/samples/tq1-sample.mot ./$name/tq73.exe ./$name/tq73panel.exe ./$name/wireshark/tq7300.lua "
[[ $files == "$want" ]] || e2e_fail "the zip holds $files, expected $want"
machine=$([[ $arch == x64 ]] && echo 8664 || echo 014c)
for exe in tq73panel.exe tq73.exe; do
    [[ $(tq_pe_machine "$dir/$exe") == "$machine" ]] || e2e_fail "$exe is not a $arch program"
done
# Every line ends in CR LF: no LF without its CR, and the file ends with one.
[[ $(grep -c $'\r$' "$dir/README.txt") == $(wc -l <"$dir/README.txt") && -n $(tail -c 2 "$dir/README.txt" | tr -d '\n') ]] ||
    e2e_fail "README.txt has lines without CR LF"
head -1 "$dir/README.txt" | grep -q "TQ7300 service console $V for Windows ($arch)" ||
    e2e_fail "README.txt does not name version $V and $arch"
cmp -s "$dir/samples/tq1-sample.mot" "$TQ_ROOT/firmware/samples/tq1-sample.mot" ||
    e2e_fail "the sample firmware is not the repository's"
e2e_note "contents, CR LF and architecture checked"

e2e_begin noshim
# Into a file, not a pipe: Wine's own processes started with it would hold a pipe open.
(cd "$dir" && exec timeout 60 "$TQ_WINE_LOADER" "$dir/tq73.exe" --version 9>&-) \
    >"$TQ_WORK/version.out" 2>"$TQ_WORK/version.err"
version=$(tr -d '\r' <"$TQ_WORK/version.out")
[[ $version =~ ^tq73\ $V\ \(commit\ [^\)]+\)$ ]] || e2e_fail "tq73.exe --version says \"$version\""
e2e_note "$version"

TQ_PANEL_CWD=$dir tq_start_panel || e2e_fail "the console did not start from $dir"
tq_drive menucheck "$kSysCmdAbout" 0 5 >/dev/null || e2e_fail "the system menu has no About item"
tq_drive syscmd "$kSysCmdAbout" capbox "About TQ7300 service console" "Version $V (commit " 10 nobox ||
    e2e_fail "the About box did not show the version or did not close"
e2e_close_panel
e2e_pass
