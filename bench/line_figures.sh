#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Wall time of `kovra-cli program` against kovra-sim in real time (38400
# baud, the programmer's real work times) on pseudo-terminals, next to its
# floor: the virtual time of the same job through the same line logic
# (kovra_bench's Line* benchmarks), which has no host overhead.
#
#   1. One chip (KV86C08, 8 KiB), whole process, median of $RUNS runs, a
#      fresh blank chip each run: with the code already in the programmer's
#      memory (the steady state of a line), with an erased memory (a line's
#      first chip: the download is part of the job), and given its own
#      number (--serial: the image streamed, the chip read back).
#   2. Chips per hour of four and of sixteen programmers at once (--port x4,
#      x16) against one alone: --count $COUNT, the memories holding the
#      code, new chips put in between chips (the newline on standard input
#      goes as soon as they are in).
#
# A run in which a chip fails, or a sim sees protocol misuse, is reported
# and run again (at most twice); the sixteen-programmer line runs once and
# its failed chips are counted, since they are what it is measured for.
# Builds nothing: needs kovra-sim, kovra-cli and kovra_bench in $BUILD.
#
#   bench/line_figures.sh          (RUNS=5 COUNT=5 BUILD=build/native)
#
# COUNT is 5, 10 or 20: the runs of chips kovra_bench has floors for.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build/native}
runs=${RUNS:-5}
count=${COUNT:-5}
sim=$build/sim/kovra-sim
cli=$build/cli/kovra-cli
bench=$build/bench/kovra_bench
chips=data/samlist.txt
chip=KV86C08
rom=0x2000

for tool in "$sim" "$cli" "$bench"; do
  [[ -x $tool ]] || { echo "line_figures: no $tool; build it first" >&2; exit 1; }
done
command -v jq >/dev/null || { echo "line_figures: needs jq" >&2; exit 1; }
[[ $count =~ ^(5|10|20)$ ]] || { echo "line_figures: COUNT is 5, 10 or 20" >&2; exit 1; }

work=$(mktemp -d)
sims=()
cleanup() {
  local pid
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The benchmark's code file, SampleHex(0x2000): byte a is (7a + 3) mod 256,
# 16 bytes a record.
awk -v size=$((rom)) 'BEGIN {
  for (a = 0; a < size; a += 16) {
    line = sprintf(":10%04X00", a); sum = 16 + int(a / 256) + a % 256
    for (i = 0; i < 16; i++) { b = ((a + i) * 7 + 3) % 256; line = line sprintf("%02X", b); sum += b }
    print line sprintf("%02X", (256 - sum % 256) % 256)
  }
  print ":00000001FF"
}' >"$work/code.hex"
# What an erased memory holds there.
head -c $((rom)) /dev/zero | tr '\0' '\377' >"$work/erased.bin"
: >"$work/failures"

# kovra-sim number $1: port $work/simN.tty, control FIFO $work/simN.ctl.
start_sim() {
  "$sim" --timing real --chip otp --rom-size "$rom" --link "$work/sim$1.tty" --control "$work/sim$1.ctl" \
    >"$work/sim$1.out" 2>&1 &
  sims+=($!)
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q '^kovra-sim: ready' "$work/sim$1.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "line_figures: kovra-sim $1 did not start" >&2
  cat "$work/sim$1.out" >&2
  exit 1
}

# Sim $1's whole output lines into `lines`. The shell reads them itself:
# processes started for every look at sixteen sims would hold up the line's
# next chip and count as its time.
lines=()
sim_lines() {
  mapfile lines <"$work/sim$1.out"
  if ((${#lines[@]})) && [[ ${lines[-1]} != *$'\n' ]]; then unset 'lines[-1]'; fi
}

# Waits for sim $1's answer to a command sent when its output had $2 lines.
answer() {
  local i
  for ((i = 0; i < 2000; i++)); do
    sim_lines "$1"
    ((${#lines[@]} > $2)) && return 0
    sleep 0.001
  done
  echo "line_figures: sim$1 does not answer" >&2
  exit 1
}

# Sends a control command to the sims named (all at once) and waits for
# their "ok".
control() {
  local command=$1 n
  shift
  local before=()
  for n in "$@"; do
    sim_lines "$n"
    before[n]=${#lines[@]}
    echo "$command" >"$work/sim$n.ctl"
  done
  for n in "$@"; do
    answer "$n" "${before[n]}"
    [[ ${lines[-1]} == $'ok\n' ]] || { echo "line_figures: sim$n: $command failed" >&2; exit 1; }
  done
}

# Status 1, after noting and clearing them, when the sims named saw
# protocol misuse.
clean() {
  local n before seen status=0
  for n in "$@"; do
    before=$(wc -l <"$work/sim$n.out")
    echo violations >"$work/sim$n.ctl"
    answer "$n" "$before"
    seen=$(tail -n +$((before + 1)) "$work/sim$n.out")
    [[ $seen == none ]] && continue
    echo "sim$n: $seen" >>"$work/failures"
    control clear-violations "$n"
    status=1
  done
  return $status
}

now_us() { echo $((${EPOCHREALTIME/./})); }

# One `kovra-cli program` on sim 1, a new blank chip in first (and an
# erased memory for a first chip): its wall time in µs, or status 1 after
# noting the failure.
one_chip() {
  control "chip otp $rom" 1
  [[ $1 == first ]] && control "load-memory $work/erased.bin" 1
  local serial=()
  [[ $1 == serial ]] && serial=(--serial 0100:4:le:1:1:4294967295 --serial-journal "$work/serials.journal")
  local start end
  start=$(now_us)
  "$cli" program "$work/code.hex" --port "$work/sim1.tty" --chips "$chips" --chip "$chip" "${serial[@]}" \
    >"$work/cli.out" 2>"$work/cli.err" || true
  end=$(now_us)
  if ! grep -qx 'passed: 1' "$work/cli.out"; then
    { echo "one chip, $1:"; cat "$work/cli.out" "$work/cli.err"; } >>"$work/failures"
    return 1
  fi
  clean 1 || return 1
  echo $((end - start))
}

# `kovra-cli program --count $count` on the sims named, a new chip in each
# between chips: its wall time in µs, or status 1 after noting a failure.
# Either way $work/line.last holds the wall time and the chips not passed.
line_run() {
  local ports=() n
  for n in "$@"; do ports+=(--port "$work/sim$n.tty"); done
  control "chip otp $rom" "$@"
  local start end line results=0 passes=0 chipsDone=0 failed=0
  start=$(now_us)
  coproc CLI { "$cli" program "$work/code.hex" "${ports[@]}" --chips "$chips" --chip "$chip" --count "$count" \
    2>"$work/line.err"; }
  local out=${CLI[0]} in=${CLI[1]} pid=$CLI_PID
  while IFS= read -r line <&"$out"; do
    [[ $line == port:* ]] || continue
    if [[ $line == *" result: pass "* ]]; then
      ((++passes))
    else
      echo "$# programmer(s): $line" >>"$work/failures"
      failed=1
    fi
    ((++results % $# == 0)) || continue
    ((++chipsDone < count)) || continue
    control "chip otp $rom" "$@"
    echo >&"$in"
  done
  wait "$pid" || failed=1
  end=$(now_us)
  clean "$@" || failed=1
  echo "$((end - start)) $((count * $# - passes))" >"$work/line.last"
  ((results == count * $# && !failed)) || return 1
  echo $((end - start))
}

# Runs "$@" until it succeeds, three times at most.
again() {
  local _
  for _ in 1 2 3; do
    "$@" && return 0
  done
  echo "line_figures: $* failed three times:" >&2
  cat "$work/failures" >&2
  exit 1
}

median() { sort -n | sed -n "$((runs / 2 + 1))p"; }

# A counter of a kovra_bench benchmark.
floor() {
  "$bench" --benchmark_filter="^$1/" --benchmark_format=json 2>/dev/null |
    jq -er --arg c "$2" '.benchmarks[0] | if .error_occurred then error(.error_message) else .[$c] end'
}

for n in {1..16}; do start_sim "$n"; done

# 1. One chip.
steady=() first=() serial=()
for ((r = 0; r < runs; r++)); do
  first+=("$(again one_chip first)")
  steady+=("$(again one_chip steady)")
  serial+=("$(again one_chip serial)")
done
steady_ms=$(printf '%s\n' "${steady[@]}" | median | awk '{ printf "%.1f", $1 / 1000 }')
first_ms=$(printf '%s\n' "${first[@]}" | median | awk '{ printf "%.1f", $1 / 1000 }')
serial_ms=$(printf '%s\n' "${serial[@]}" | median | awk '{ printf "%.1f", $1 / 1000 }')
serial_floor=$(floor LineChipSerial virtual_ms)
steady_floor=$(floor LineChipSteady virtual_ms)
first_floor=$(floor LineChipFirst virtual_ms)
line_floor=$(floor "LineCount/$count" chips_per_hour)

# 2. The code into every programmer's memory (sim 1 has it), all at once,
# then the lines.
downloads=()
for n in {2..16}; do
  "$cli" download "$work/code.hex" --port "$work/sim$n.tty" --chips "$chips" --chip "$chip" >/dev/null &
  downloads+=($!)
done
for pid in "${downloads[@]}"; do
  wait "$pid" || { echo "line_figures: a download failed" >&2; exit 1; }
done
one_us=$(again line_run 1)
four_us=$(again line_run 1 2 3 4)
line_run {1..16} >/dev/null || true
read -r sixteen_us sixteen_failed <"$work/line.last"

pct() { awk -v w="$1" -v f="$2" 'BEGIN { printf "%+.1f %%", (w - f) / f * 100 }'; }
per_hour() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.0f", n * 3600e6 / t }'; }

echo "kovra-cli program against kovra-sim --timing real on pseudo-terminals; $(nproc) cores; $(date +%F)"
echo "floor: the same job's virtual time in kovra_bench (host waits + line time + programmer time)"
echo
echo "one $chip chip (8 KiB), whole process, median of $runs runs"
printf '%-34s %10s %10s %8s\n' job "floor ms" "wall ms" over
printf '%-34s %10.1f %10.1f %8s\n' "code in memory (no download)" "$steady_floor" "$steady_ms" \
  "$(pct "$steady_ms" "$steady_floor")"
printf '%-34s %10.1f %10.1f %8s\n' "erased memory (download)" "$first_floor" "$first_ms" \
  "$(pct "$first_ms" "$first_floor")"
printf '%-34s %10.1f %10.1f %8s\n' "its own number (stream, read-back)" "$serial_floor" "$serial_ms" \
  "$(pct "$serial_ms" "$serial_floor")"
echo
echo "--count $count, code in memory, new chips between chips"
printf '%-34s %10s %10s %10s\n' programmers "wall s" chips/h "floor/h"
printf '%-34s %10.1f %10s %10.0f\n' 1 "$(awk -v t="$one_us" 'BEGIN { print t / 1e6 }')" \
  "$(per_hour "$one_us" "$count")" "$line_floor"
printf '%-34s %10.1f %10s %10.0f\n' 4 "$(awk -v t="$four_us" 'BEGIN { print t / 1e6 }')" \
  "$(per_hour "$four_us" $((4 * count)))" "$(awk -v f="$line_floor" 'BEGIN { print 4 * f }')"
printf '%-34s %10.1f %10s %10.0f\n' 16 "$(awk -v t="$sixteen_us" 'BEGIN { print t / 1e6 }')" \
  "$(per_hour "$sixteen_us" $((16 * count)))" "$(awk -v f="$line_floor" 'BEGIN { print 16 * f }')"
printf '%-34s %21.2fx\n' "four against one" "$(awk -v a="$one_us" -v b="$four_us" 'BEGIN { print 4 * a / b }')"
printf '%-34s %21.2fx\n' "sixteen against one" "$(awk -v a="$one_us" -v b="$sixteen_us" 'BEGIN { print 16 * a / b }')"
echo "sixteen programmers: $sixteen_failed of $((16 * count)) chips failed"
if [[ -s $work/failures ]]; then
  echo
  echo "failures (a run of one or four programmers was repeated; sixteen ran once):"
  cat "$work/failures"
fi
