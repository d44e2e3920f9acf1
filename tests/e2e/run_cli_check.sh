#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra-cli.exe under Wine against kovra-sim as a bridge COM port: program
# with a record, by the port's name and by auto, and as JSON lines; then bad
# ports refused.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
source scripts/common.sh
source scripts/app_env.sh
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
sim=$(realpath "${KOVRA_SIM:-build/native/sim/kovra-sim}")
work=$PWD/build/e2e/cli_check
rm -rf "$work"
mkdir -p "$work"
trap stop_app_env EXIT
prepare_app_prefix "$PWD/data" fresh
# The fast timing: Wine cannot show the programmer's DSR (see kovra-sim).
start_sim "$sim" "$work" --chip otp --rom-size 0x2000 || exit 1

# Its exit status; the output, less the CRs, in $work/out.
cli() {
  wine "$windows/cli/kovra-cli.exe" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  sed -i 's/\r$//' "$work/out"
  return "$rc"
}
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

sim_do() { sim_command "$work" "$@" || fail "kovra-sim did not take '$*'"; }

# The code as objcopy reads it, and its 16-bit sum.
code=data/samples/demo.hex
objcopy -I ihex -O binary "$code" "$work/code.bin" || exit 1
size=$(stat -c %s "$work/code.bin")
sum=$(od -An -v -tu1 "$work/code.bin" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%04X", s % 65536 }')
passed=$(printf 'port: COM5 result: pass status: 自动编程已成功完成\npassed: 1\nfailed: 0')

for port in COM5 auto; do
  sim_do chip otp 0x2000
  cli program "$(winepath -w "$code")" --port "$port" --chip KV86C08 --chips "$(winepath -w data/samlist.txt)" \
    --expect-checksum "$sum" --record "$(winepath -w "$work/record.csv")"
  rc=$?
  [ "$rc" -eq 0 ] || fail "--port $port: exit status $rc: $(cat "$work/err")"
  [ "$(cat "$work/out")" = "$passed" ] || fail "--port $port: output differs:$(diff <(echo "$passed") "$work/out")"
  sim_do save-chip "$work/chip.bin"
  cmp -s -n "$size" "$work/code.bin" "$work/chip.bin" || fail "--port $port: the chip does not hold the code"
  [ "$(tail -c +"$((size + 1))" "$work/chip.bin" | tr -d '\377' | wc -c)" -eq 0 ] ||
    fail "--port $port: the chip is not blank above the code"
done
rows=$(record_rows "$work/record.csv") || fail "record.csv is no good record"
[ "$(echo "$rows" | cut -f2,3,8 | tr '\t\n' ' ;')" = "COM5 KV86C08 pass;COM5 KV86C08 pass;" ] ||
  fail "the record rows are not right: $rows"

# The same chip again, as JSON lines: it is programmed, so not blank.
cli program "$(winepath -w "$code")" --port COM5 --chip KV86C08 --chips "$(winepath -w data/samlist.txt)" --json
rc=$?
[ "$rc" -eq 1 ] || fail "--json: exit status $rc, not 1: $(cat "$work/err")"
jq -e -s '.[0].type == "result" and .[0].port == "COM5" and .[0].result == "fail" and
  .[0].failure == "not-blank" and .[0].address == 0 and
  .[1] == {"type": "summary", "passed": 0, "failed": 1, "record_failed": false}' "$work/out" >/dev/null ||
  fail "--json: the lines are not right: $(cat "$work/out")"

# Ports the Windows build refuses before a byte is sent.
frames=$(grep -c 'host >' "$work/wire.log")
for ports in "--port COM9" "--port COM5 --port com5" "--port /dev/null"; do
  # shellcheck disable=SC2086
  cli program "$code" --chip KV86C08 --chips data/samlist.txt $ports
  rc=$?
  if [ "$rc" -ne 2 ] || [ -s "$work/out" ] || ! grep -q '^error: ' "$work/err"; then
    fail "$ports: exit status $rc, not a refusal: $(cat "$work/out" "$work/err")"
  fi
done
[ "$(grep -c 'host >' "$work/wire.log")" -eq "$frames" ] || fail "a refused run sent frames"

check_wire_log "$work/wire.log" || status=1
if [ "$status" -ne 0 ]; then
  echo "--- kovra-sim"; cat "$work/sim.out"
else
  echo "cli check: passed"
fi
exit "$status"
