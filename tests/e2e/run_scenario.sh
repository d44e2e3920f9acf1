#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one end-to-end scenario: kovra.exe under Wine on its own Xvfb
# display, kovra-sim as its programmer, kovra-drive.exe playing the script.
# Screenshots land in out/e2e/NAME/ (at least one at the end).
#
#   tests/e2e/run_scenario.sh SCENARIO.drive
#
# KOVRA_WINDOWS_BUILD: the Windows build folder (default build/windows);
# KOVRA_SIM: the native kovra-sim (default build/native/sim/kovra-sim).
# A first line "# sim: OPTIONS" gives kovra-sim options; "# make: FILE
# SIZE" lines make FILE in the work folder (@WORK@) of SIZE random bytes
# before the script, and "# same: A B" lines fail the scenario afterwards
# unless B begins with the bytes of A (both in the work folder).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/app_env.sh

scenario=$(realpath "$1")
name=$(basename "$scenario" .drive)
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
sim=$(realpath "${KOVRA_SIM:-build/native/sim/kovra-sim}")
work=$PWD/build/e2e/$name
shots=$PWD/out/e2e/$name
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"
trap stop_app_env EXIT

# The display first: Wine's desktop process, started by the first wine
# command, keeps the display it found.
start_xvfb 90 || exit 1
prepare_app_prefix "$PWD/data" fresh
# shellcheck disable=SC2046
start_sim "$sim" "$work" $(sim_options "$scenario") || exit 1

sed -nE 's/^# make: ([^ ]+) ([0-9]+)$/\1 \2/p' "$scenario" | while read -r file size; do
  head -c "$size" /dev/urandom >"$work/$file"
done

run_drive "$scenario" "$windows" "$work" "$shots" | tee "$work/driver.out"
status=${PIPESTATUS[0]}
while read -r a b; do
  cmp -s -n "$(stat -c %s "$work/$a")" "$work/$a" "$work/$b" || { echo "FAILED: $b does not hold $a"; status=1; }
done < <(sed -nE 's/^# same: ([^ ]+) ([^ ]+)$/\1 \2/p' "$scenario")
check_wire_log "$work/wire.log" || status=1
convert_shots "$shots"
if [ "$status" -ne 0 ]; then
  echo "--- kovra-sim"; cat "$work/sim.out"
  echo "--- driver stderr"; tail -n 20 "$work/driver.err"
fi
exit "$status"
