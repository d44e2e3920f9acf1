#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows packages, used as a user uses them, in a fresh Wine prefix of
# their own, against kovra-sim:
#  - the portable ZIP, unpacked: its kovra.exe finds the chip list beside
#    itself (nothing is recorded), connects and downloads a sample;
#  - the installer, silently into a chosen folder: the files, the "setup"
#    value (64-bit registry view), the Start-menu shortcut and the Apps &
#    features entry are there; the installed kovra.exe lists the installed
#    chips, connects and downloads an installed sample;
#  - the silent uninstaller: no file, shortcut, entry or "setup" value is
#    left, and the saved port and chip stay.
#
#   tests/e2e/run_install_check.sh SETUP.exe PORTABLE.zip
#
# KOVRA_WINDOWS_BUILD, KOVRA_SIM: as for run_scenario.sh. Screenshots land
# in out/e2e/install/.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/app_env.sh

for package in "$1" "$2"; do
  [ -f "$package" ] || { echo "no $package: cmake --build --preset windows --target package"; exit 1; }
done
setup=$(realpath "$1")
portable=$(realpath "$2")
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
sim=$(realpath "${KOVRA_SIM:-build/native/sim/kovra-sim}")
work=$PWD/build/e2e/install
shots=$PWD/out/e2e/install
folder='C:\Program Files\Kovra Test'
menu='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Kovra V3.0C'
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kovra V3.0C'

failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
not() { ! "$@"; }
# Registry values in the 64-bit view, the one the program reads.
value_of() { wine reg query "$1" /v "$2" /reg:64 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p"; }
has_value() { wine reg query "$1" /v "$2" /reg:64 >/dev/null 2>&1; }
has_key() { wine reg query "$1" /reg:64 >/dev/null 2>&1; }
# The program keeps its port and chip under its key in one of the two hives.
saved() { has_value "$SETTINGS_KEY" "$1" || has_value "${SETTINGS_KEY/HKLM/HKCU}" "$1"; }
port_and_chip_saved() { saved com && saved chip; }
has_files() {
  local dir=$1 file
  shift
  for file in "$@"; do [ -f "$dir/$file" ] || { echo "  missing: $dir/$file"; return 1; }; done
}

[ -d "$work/prefix" ] && WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots/portable" "$shots/installed"
export WINEPREFIX=$work/prefix
trap stop_app_env EXIT

start_xvfb 90 || exit 1
wine_env
substitute_fonts
# The simulator keeps Wine's services, and so its port, alive.
start_sim "$sim" "$work" || exit 1

echo "== the portable ZIP"
unpacked=$WINEPREFIX/drive_c/portable
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$portable")
unpacked=$unpacked/$(basename "$portable" .zip)
check "unpacked: kovra.exe, kovra-cli.exe, samlist.txt, samples" \
  has_files "$unpacked" kovra.exe kovra-cli.exe samlist.txt samples/demo.hex
check "no installation recorded" not has_key "$SETTINGS_KEY"
check "the unpacked kovra.exe lists its chips, connects and downloads" \
  run_drive tests/e2e/install/packaged.drive "$windows" "$work" "$shots/portable" "$unpacked/kovra.exe"

echo "== the installer, silent, into $folder"
# /D= comes last and unquoted, spaces and all; cmd passes the line as it is.
wine cmd /c "$(winepath -w "$setup") /S /D=$folder"
installed=$(winepath -u "$folder")
check "installed: kovra.exe, kovra-cli.exe, samlist.txt, samples, Uninstall.exe" \
  has_files "$installed" kovra.exe kovra-cli.exe samlist.txt samples/demo.hex Uninstall.exe
check "setup = $folder" test "$(value_of "$SETTINGS_KEY" setup)" = "$folder"
check "Start-menu shortcut" test -f "$(winepath -u "$menu")/Kovra V3.0C.lnk"
check "Apps & features entry with its uninstaller" \
  test "$(value_of "$entry" UninstallString)" = "\"$folder\\Uninstall.exe\""
check "the installed kovra.exe lists its chips, connects and downloads" \
  run_drive tests/e2e/install/packaged.drive "$windows" "$work" "$shots/installed" "$installed/kovra.exe"
check "the port and the chip were saved" port_and_chip_saved
check "the simulator saw no protocol violation" check_wire_log "$work/wire.log"

echo "== the uninstaller, silent"
# It runs from a copy of itself and returns at once, so Wine's end is
# awaited; the programs kept running (the simulator's too) go first. It
# needs no display.
stop_app_env
unset DISPLAY
wineserver -w
wine "$installed/Uninstall.exe" /S
wineserver -w
check "no file left" not test -e "$installed"
check "no shortcut left" not test -e "$(winepath -u "$menu")"
check "no Apps & features entry" not has_key "$entry"
check "no setup value" not has_value "$SETTINGS_KEY" setup
check "the saved port and chip kept" port_and_chip_saved

convert_shots "$shots/portable"
convert_shots "$shots/installed"
if [ "$failures" -ne 0 ]; then
  echo "--- kovra-sim"; cat "$work/sim.out"
  echo "--- driver stderr"; tail -n 20 "$work/driver.err"
fi
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
