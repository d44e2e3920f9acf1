#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures kovra.exe under Wine and Xvfb against kovra-sim (real line
# timing): time from process start to the connected status text, the
# longest time the window takes to answer a message during a download and
# during an automatic run, and the CPU time of 60 s of idle supervision.
# Needs the native and Windows builds (./test or ./run makes them).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
source scripts/app_env.sh

work=$PWD/build/figures
rm -rf "$work"
mkdir -p "$work"
trap stop_app_env EXIT
start_xvfb 90
prepare_app_prefix "$PWD/data" fresh
# shellcheck disable=SC2046
start_sim build/native/sim/kovra-sim "$work" $(sim_options bench/wine_figures.drive)
run_drive bench/wine_figures.drive build/windows "$work" "$work" >"$work/driver.out" &
driver=$!

# CPU time (user + system) of the processes whose command line matches, in
# clock ticks.
ticks() {
  local total=0 pid
  for pid in $(pgrep -f "$1"); do
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  echo "$total"
}
until grep -q '^> idle 60000' "$work/driver.out"; do
  kill -0 "$driver" 2>/dev/null || { cat "$work/driver.out"; exit 1; }
  sleep 0.2
done
before=$(ticks 'kovra\.exe')
wine_before=$(ticks 'wineserver|winedevice')
until grep -q '^  screenshot idle' "$work/driver.out"; do sleep 0.2; done
after=$(ticks 'kovra\.exe')
wine_after=$(ticks 'wineserver|winedevice')
wait "$driver"

hz=$(getconf CLK_TCK)
connected=$(awk '/^> wait .* OK, / { seen = 1 } seen && /^  after / { print $2; exit }' "$work/driver.out")
mapfile -t answers < <(sed -nE 's/^ui-answer-max-ms: ([0-9.]+).*/\1/p' "$work/driver.out")
echo "start to connected text:               ${connected} ms"
echo "longest window answer, download:       ${answers[0]} ms"
echo "longest window answer, automatic run:  ${answers[1]} ms"
seconds() { awk -v t="$1" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }'; }
echo "CPU time of 60 s idle supervision:     $(seconds $((after - before))) s (kovra.exe)"
echo "  Wine's server and device processes:  $(seconds $((wine_after - wine_before))) s meanwhile"
