#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra-cli on a production line: kovra-sim programmers in real time on
# pseudo-terminals, driven as an operator or a line script would.
#
#   tests/line/run_line_e2e.sh CHECK KOVRA_CLI KOVRA_SIM
#
# CHECK: one (one programmer: chip, memory, record, wire; the same as JSON), gang (four at
# once, one chip not blank, one unplugged mid-chip), kill (kovra-cli killed
# mid-chip leaves whole record rows), refusals (bad input stopped at once,
# before a byte is sent), trust (48 KiB programmed and configured whole; a
# download damaged on the line with its 16-bit sum kept programs no chip),
# serial (each chip its own number from a journal), database (four at once
# into a throwaway PostgreSQL that stops and starts again mid-run).
# Work files stay in ./line_e2e/CHECK for a look afterwards.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
source "$repo/scripts/common.sh"
source "$repo/scripts/app_env.sh"
[ $# -eq 3 ] || { echo "usage: $0 one|gang|kill|refusals|trust|serial|database KOVRA_CLI KOVRA_SIM" >&2; exit 2; }
check=$1
cli=$(realpath "$2")
sim=$(realpath "$3")
work=$PWD/line_e2e/$check
rm -rf "$work"
mkdir -p "$work"
# Short relative names: they are the port names in the output and record.
cd "$work" || exit 1

chip=KV86C08
cp "$repo/data/samlist.txt" samlist.txt
# The code: the sample's first KiB, as binary and as HEX, and its 16-bit
# sum, all without kovra's own loader. Small: under load, each answer the
# programmer streams is one more chance for a byte to come late.
objcopy -I ihex -O binary "$repo/data/samples/demo.hex" sample.bin &&
  head -c 1024 sample.bin >code.bin &&
  objcopy -I binary -O ihex code.bin code.hex || exit 1
size=$(stat -c %s code.bin)
sum=$(od -An -v -tu1 code.bin | awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%04X", s % 65536 }')
passed_text=自动编程已成功完成

status=0
fail() {
  echo "FAILED: $*"
  status=1
}

# Polls a command for up to SECONDS.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

sims=()
cleanup() {
  [ -n "${cli_pid:-}" ] && kill "$cli_pid" 2>/dev/null
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${sims[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

# A programmer named NAME: its port is ./NAME, its control FIFO NAME.ctl,
# its wire log NAME.wire, its replies NAME.out. A blank OTP chip of $rom
# bytes (8 KiB unless set).
rom=0x2000
timing=real
start_sims() {
  for name; do
    "$sim" --timing "$timing" --chip otp --rom-size "$rom" --link "$name" --control "$name.ctl" \
      --log "$name.wire" >"$name.out" 2>&1 &
    sims+=($!)
  done
  for name; do
    wait_for 10 grep -qs 'kovra-sim: ready' "$name.out" || {
      echo "kovra-sim $name did not start:"
      cat "$name.out"
      exit 1
    }
  done
}

# Sends one control command and waits for its reply.
sim_do() {
  local name=$1
  shift
  local before
  before=$(wc -l <"$name.out")
  timeout 5 sh -c 'echo "$1" >"$2"' _ "$*" "$name.ctl" &&
    wait_for 5 sh -c '[ "$(wc -l <"$1")" -gt "$2" ]' _ "$name.out" "$before" &&
    tail -n +"$((before + 1))" "$name.out" | grep -qx ok ||
    fail "$name did not take '$*': $(tail -n +"$((before + 1))" "$name.out")"
}

# The chip in NAME's socket holds the code over its range, blank above.
check_chip() {
  local name=$1
  sim_do "$name" save-chip "$name.chip"
  cmp -s -n "$size" code.bin "$name.chip" || fail "$name: the chip does not hold the code"
  [ "$(tail -c +"$((size + 1))" "$name.chip" | tr -d '\377' | wc -c)" -eq 0 ] ||
    fail "$name: the chip is not blank above the code"
}

check_memory() {
  local name=$1
  sim_do "$name" save-memory "$name.memory" 0 "$((size - 1))"
  cmp -s code.bin "$name.memory" || fail "$name: the programmer's memory does not hold the code"
}

check_wires() {
  for name; do check_wire_log "$name.wire" || status=1; done
}

# --- one programmer: contents, record, wire
check_one() {
  start_sims ttyA
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt --expect-checksum "$sum" \
    --record record.csv >out 2>err
  local rc=$?
  [ "$rc" -eq 0 ] || fail "program exited $rc"
  local want
  want=$(printf 'port: ttyA result: pass status: %s\npassed: 1\nfailed: 0' "$passed_text")
  [ "$(cat out)" = "$want" ] || fail "output differs:$(diff <(echo "$want") out)"
  check_chip ttyA
  check_memory ttyA
  check_wires ttyA
  local rows
  rows=$(record_rows record.csv) || fail "record.csv is no good record"
  [ "$(echo "$rows" | wc -l)" -eq 1 ] || fail "record.csv holds $(echo "$rows" | wc -l) rows, not 1"
  echo "$rows" | awk -F'\t' -v chip="$chip" -v sum="$sum" '
    !($1 ~ /^[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]Z$/ && $2 == "ttyA" && $3 == chip &&
      $4 == "code.hex" && $5 == sum && $6 == sum && $7 == "blank,program,verify,read-protect" &&
      $8 == "pass" && $10 ~ /^[0-9]+\.[0-9]+$/) { bad = 1 }
    END { exit bad }' || fail "the record row is not right: $rows"

  # The same as JSON lines, read by a JSON parser: a new chip passes; the
  # programmed one, again, fails as not blank, as the text output says.
  sim_do ttyA chip otp 0x2000
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt --json --progress >pass.json 2>/dev/null ||
    fail "program --json exited $?"
  jq -e -s 'map(select(.type == "result")) == [.[] | select(.type == "result" and .port == "ttyA" and
      .result == "pass" and .failure == null and .elapsed_s > 0)] and
    (map(select(.type == "result")) | length) == 1 and
    (map(select(.type == "summary")) == [{"type": "summary", "passed": 1, "failed": 0, "record_failed": false}]) and
    (map(select(.type == "progress")) | length > 0 and all(.address <= .end + 1 and .percent <= 100))' \
    pass.json >/dev/null || fail "the JSON lines of a passed chip are not right: $(cat pass.json | grep -v progress)"
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt >again.out 2>/dev/null
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt --json >again.json 2>/dev/null
  [ $? -eq 1 ] || fail "program --json on a programmed chip did not exit 1"
  grep -q '^port: ttyA result: fail status: 芯片不空, 在地址: 00000$' again.out || fail "the text output differs: $(cat again.out)"
  jq -e -s '.[0] | .type == "result" and .result == "fail" and .failure == "not-blank" and .step == "blank" and
    .address == 0 and .status == "芯片不空, 在地址: 00000"' again.json >/dev/null ||
    fail "the JSON result of a chip that is not blank is not right: $(cat again.json)"
}

# --- four at once, three chips each: ttyC's first chip is not blank; ttyD
# is unplugged while it programs its first chip, stays away for the
# second and is back for the third.
check_gang() {
  start_sims ttyA ttyB ttyC ttyD
  head -c 16 /dev/zero >zeros.bin
  sim_do ttyC load-chip zeros.bin
  mkfifo go
  "$cli" program code.hex --port ttyA --port ttyB --port ttyC --port ttyD --chip "$chip" --chips samlist.txt \
    --expect-checksum "$sum" --record record.csv --count 3 <go >out 2>err &
  cli_pid=$!
  exec {go}>go
  # The chip is being programmed once the program frame (0x0B) is out.
  wait_for 30 grep -q 'host > frame 0x0B' ttyD.wire || fail "ttyD never started programming"
  sim_do ttyD unplug
  local results=0
  for next in 2 3; do
    results=$((results + 4))
    wait_for 30 sh -c '[ "$(grep -c "^port: " out)" -ge "$1" ]' _ "$results" || fail "chips $((next - 1)) never finished"
    check_chip ttyA
    check_chip ttyB
    for name in ttyA ttyB ttyC ttyD; do sim_do "$name" chip otp 0x2000; done
    if [ "$next" -eq 3 ]; then
      sim_do ttyD replug
      wait_for 5 test -L ttyD || fail "ttyD did not come back"
    fi
    # The go-ahead only now: the line waits for it between chips.
    echo >&"$go"
  done
  wait "$cli_pid"
  local rc=$?
  cli_pid=
  exec {go}>&-
  [ "$rc" -eq 1 ] || fail "program exited $rc, not 1"

  local want='ttyA pass;ttyA pass;ttyA pass;ttyB pass;ttyB pass;ttyB pass;ttyC fail;ttyC pass;ttyC pass;ttyD fail;ttyD fail;ttyD pass;'
  [ "$(sed -nE 's/^port: (tty.) result: (pass|fail) status: .*/\1 \2/p' out | sort | tr '\n' ';')" = "$want" ] ||
    fail "the result lines are not right"
  grep -q '^port: ttyC result: fail status: 芯片不空' out || fail "ttyC's failure does not say the chip is not blank"
  [ "$(tail -n 2 out)" = "$(printf 'passed: 9\nfailed: 3')" ] || fail "the counts are not right"
  for name in ttyA ttyB ttyC ttyD; do check_chip "$name"; done
  check_wires ttyA ttyB ttyC ttyD
  local rows
  rows=$(record_rows record.csv) || fail "record.csv is no good record"
  # Every chip has its row, also ttyD's second, which never got a run.
  local recorded
  recorded=$(echo "$rows" | cut -f2,8 | sort | tr '\t\n' ' ;')
  [ "$recorded" = "$want" ] ||
    fail "the record rows are not right: $(echo "$rows" | cut -f2,8,9 | tr '\n' ';')"
}

# --- kovra-cli killed while a chip is programmed
check_kill() {
  start_sims ttyA
  # Chip after chip on the same OTP chip: programming the same code again
  # passes, so the line goes on without anybody changing chips.
  local args=(program code.hex --port ttyA --chip "$chip" --chips samlist.txt --steps program,verify
    --record record.csv)
  yes "" | head -n 1000 >lines
  "$cli" "${args[@]}" --count 1000 <lines >out 2>err &
  cli_pid=$!
  wait_for 60 sh -c 'test -f record.csv && [ "$(grep -c . record.csv)" -ge 3 ]' || fail "no second row came"
  local frames
  frames=$(grep -c 'host > frame 0x0B' ttyA.wire)
  wait_for 10 sh -c '[ "$(grep -c "host > frame 0x0B" ttyA.wire)" -gt "$1" ]' _ "$frames" ||
    fail "no next chip started"
  { kill -9 "$cli_pid" && wait "$cli_pid"; } 2>/dev/null
  cli_pid=
  local rows before
  rows=$(record_rows record.csv) || fail "the record file the killed run left is broken"
  before=$(echo "$rows" | wc -l)
  [ "$before" -ge 2 ] || fail "the killed run recorded $before rows"
  # Each chip had the same status as the last, and a reminder box about
  # read protection: its result is still one line with its own status.
  [ -z "$(grep -v "^port: ttyA result: \(pass status: $passed_text\|fail status: .\)" out)" ] ||
    fail "result lines are not one line each with the chip's status"
  # The flags answer that reminder for every chip: it is told once, its
  # caption followed by one colon.
  [ "$(grep -c '^ttyA: 提 示: ' err)" -eq 1 ] && ! grep -q '::' err ||
    fail "the answered question is not told once: $(grep -c '提 示' err) times"

  # The killed run's exclusive hold stays on the pseudo-terminal while the
  # simulator keeps its own side open (a real port is freed by its last
  # close): a replug gives a fresh one.
  sim_do ttyA unplug
  wait_for 5 grep -q 'kovra-sim: unplugged' ttyA.out
  sim_do ttyA replug
  wait_for 5 test -L ttyA || fail "ttyA did not come back"
  "$cli" "${args[@]}" >>out 2>>err
  local rc=$?
  # Pass or fail, it must have run and recorded its chip.
  [ "$rc" -le 1 ] || fail "the run after the kill exited $rc: $(tail -n 1 err)"
  rows=$(record_rows record.csv) || fail "the record file is broken after the second run"
  [ "$(echo "$rows" | wc -l)" -eq $((before + 1)) ] || fail "the second run did not add one row"
}

# --- bad input: exit status 2, at once, and not one frame on the line
check_refusals() {
  start_sims ttyA
  : >plain
  mkfifo fifo
  local list="--chips samlist.txt --record record.csv"
  local cases=(
    "$list --port plain --chip $chip code.hex"
    "$list --port ttyA --port /dev/null --chip $chip code.hex"
    "$list --port ttyA --port $(readlink ttyA) --chip $chip code.hex"
    "$list --port ttyA --chip $chip --expect-checksum 12G4 code.hex"
    "$list --port ttyA --chip KV99X99 code.hex"
    "$list --port ttyA --chip '' code.hex"
    "$list --port ttyA --chip $chip missing.hex"
    # A pipe or a device would be waited on, or read, for ever.
    "--chips fifo --record record.csv --port ttyA --chip $chip code.hex"
    "--chips /dev/zero --record record.csv --port ttyA --chip $chip code.hex"
    "--chips samlist.txt --record fifo --port ttyA --chip $chip code.hex"
    "--chips samlist.txt --record /dev/null --port ttyA --chip $chip code.hex"
    "--chips samlist.txt --record nowhere/record.csv --port ttyA --chip $chip code.hex"
  )
  local args rc
  for c in "${cases[@]}"; do
    eval "args=($c)"
    timeout 10 "$cli" program "${args[@]}" >out 2>err
    rc=$?
    [ "$rc" -eq 2 ] || fail "$c: exit status $rc, not 2"
    [ ! -s out ] || fail "$c: printed $(cat out)"
    grep -q '^error: ' err || fail "$c: no error message"
  done
  [ ! -e record.csv ] || fail "a refused run made the record file"
  # The line stays quiet even a moment later.
  sleep 0.3
  ! grep -q 'host >' ttyA.wire || fail "bytes were sent: $(grep 'host >' ttyA.wire | head -n 3)"
}

# --- what a line must trust
check_trust() {
  rom=0xC000
  start_sims ttyA
  # 48 KiB on a chip whose ROM ends at BFFFH: every byte programmed and
  # verified, and the offline master's configuration covering them all.
  head -c 49152 /dev/urandom >big.bin
  "$cli" program big.bin --port ttyA --chip KV88C0A --chips samlist.txt >out 2>err
  local rc=$?
  [ "$rc" -eq 0 ] || fail "48 KiB on KV88C0A: program exited $rc"
  sim_do ttyA save-chip ttyA.chip
  cmp -s big.bin ttyA.chip || fail "48 KiB on KV88C0A: the chip does not hold the whole code"
  "$cli" offline-master big.bin --port ttyA --chip KV88C0A --chips samlist.txt >>out 2>>err
  rc=$?
  [ "$rc" -eq 0 ] || fail "48 KiB on KV88C0A: offline-master exited $rc"
  # The configuration frame: its end address (bytes 19, 6 and 7) is BFFFH.
  local config
  config=$(grep 'host > frame 0x11' ttyA.wire | tail -n 1 | sed -E 's/.*frame 0x11 +//')
  [ "$(echo "$config" | awk '{ print $20 $7 $8 }')" = 00BFFF ] ||
    fail "the offline configuration does not end at BFFFH: $config"

  # Two neighbouring bytes exchanged in the download stream (the frames
  # before it are fewer than 600 bytes): the same 16-bit sum, other code.
  sim_do ttyA chip otp 0x2000
  sim_do ttyA fault swap-to-device 600
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt >>out 2>>err
  rc=$?
  [ "$rc" -eq 1 ] || fail "a download with exchanged bytes: program exited $rc, not 1"
  tail -n 3 out | grep -q '^port: ttyA result: fail status: 编程内存与代码文件不符' ||
    fail "a download with exchanged bytes was not refused for its bytes"
  sim_do ttyA save-chip ttyA.chip
  [ "$(tr -d '\377' <ttyA.chip | wc -c)" -eq 0 ] || fail "a chip was programmed from the damaged memory"
  # A sound line again: the next run downloads anew and passes.
  sim_do ttyA fault swap-to-device off
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt >>out 2>>err ||
    fail "the run after the damaged download did not pass"
  check_chip ttyA
  check_wires ttyA
}

# --- serial numbers: every chip its own, none twice, none lost. Fast
# timing: what counts here is which bytes reach which chip.
check_serial() {
  timing=fast
  start_sims ttyA ttyB ttyC ttyD
  local serial=(--serial 0100:4:bcd:1:1:20 --serial-journal serials.journal)
  # A chip's number, as its bytes at 0100H say.
  number_of() { od -An -tx1 -j 256 -N 4 "$1" | tr -d ' \n' | sed 's/^0*//'; }
  # The chip holds the code but for its four bytes at 0100H.
  holds_code_and() {
    cmp -s -n 256 code.bin "$1" && cmp -s -i 260 -n $((size - 260)) code.bin "$1"
  }

  # A gang of three, seven rounds, twenty numbers: the seventh round runs
  # out on one port.
  mkfifo go
  "$cli" program code.hex --port ttyA --port ttyB --port ttyC --chip "$chip" --chips samlist.txt "${serial[@]}" \
    --record record.csv --count 7 <go >out 2>err &
  cli_pid=$!
  exec {go}>go
  local round name numbers=()
  for round in 1 2 3 4 5 6 7; do
    if [ "$round" -lt 7 ]; then
      wait_for 30 sh -c '[ "$(grep -c "^port: " out)" -ge "$1" ]' _ $((round * 3)) || fail "round $round never finished"
    else
      wait "$cli_pid" || fail "the serialised gang exited $?"
      cli_pid=
    fi
    for name in ttyA ttyB ttyC; do
      sim_do "$name" save-chip "$round.$name.chip"
      [ -n "$(tr -d '\377' <"$round.$name.chip" | head -c 1)" ] || continue
      holds_code_and "$round.$name.chip" || fail "$round.$name.chip: not the code beside its number"
      numbers+=("$(number_of "$round.$name.chip")")
      sim_do "$name" chip otp 0x2000
    done
    [ "$round" -lt 7 ] && echo >&"$go"
  done
  exec {go}>&-
  [ "$(printf '%s\n' "${numbers[@]}" | sort -n | tr '\n' ' ')" = "$(seq -s ' ' 1 20) " ] ||
    fail "the chips' numbers are not 1 to 20 once each: ${numbers[*]}"
  [ "$(awk '$1 == "spent" { print $2 + 0 }' serials.journal | tr '\n' ' ')" = "$(seq -s ' ' 1 20) " ] ||
    fail "the journal does not spend 1 to 20 in order: $(cat serials.journal)"
  [ "$(tail -n 2 out)" = "$(printf 'passed: 20\nfailed: 0')" ] || fail "the counts are not right"
  grep -q 'serial numbers run out' err || fail "the end of the numbers is not told"
  local rows
  rows=$(record_rows record.csv) || fail "record.csv is no good record"
  [ "$(echo "$rows" | awk -F'\t' '$8 == "pass" { print $13 + 0 }' | sort -n | tr '\n' ' ')" = "$(seq -s ' ' 1 20) " ] ||
    fail "the record's serial column is not 1 to 20"

  # Killed while its number streams: that number stays spent. The run
  # after it takes the next; while it waits for its second chip it holds
  # the journal, and a second process on it is refused.
  local more=(--serial 0100:4:bcd:1:1:40 --serial-journal serials.journal --count 2)
  mkfifo hold
  exec {hold}<>hold
  "$cli" program code.hex --port ttyD --chip "$chip" --chips samlist.txt "${more[@]}" <hold {hold}>&- >/dev/null 2>&1 &
  cli_pid=$!
  wait_for 10 grep -q 'host > frame 0x13' ttyD.wire || fail "ttyD never streamed"
  { kill -9 "$cli_pid" && wait "$cli_pid"; } 2>/dev/null
  cli_pid=
  [ "$(awk '$1 == "spent" { n = $2 + 0 } END { print n }' serials.journal)" = 21 ] ||
    fail "the killed run's number is not spent: $(tail -n 1 serials.journal)"
  # The killed run's hold on the pseudo-terminal goes with a replug.
  sim_do ttyD unplug
  wait_for 5 grep -q 'kovra-sim: unplugged' ttyD.out
  sim_do ttyD replug
  wait_for 5 test -L ttyD || fail "ttyD did not come back"
  sim_do ttyD chip otp 0x2000
  "$cli" program code.hex --port ttyD --chip "$chip" --chips samlist.txt "${more[@]}" <hold {hold}>&- >after.out 2>&1 &
  cli_pid=$!
  wait_for 30 grep -q '^port: ttyD result: pass' after.out || fail "the run after the kill did not pass a chip"
  sim_do ttyD save-chip after-kill.chip
  [ "$(number_of after-kill.chip)" = 22 ] || fail "the run after the kill gave $(number_of after-kill.chip), not 22"
  "$cli" program code.hex --port ttyA --chip "$chip" --chips samlist.txt "${more[@]}" >second.out 2>&1
  [ $? -eq 2 ] && grep -q 'in use' second.out || fail "a second process on the journal was not refused: $(cat second.out)"
  exec {hold}>&-
  wait "$cli_pid"
  cli_pid=

  # A chip that fails after its number streamed (zeros where the code has
  # ones: the programmer's verdict is NO) spends it; the next chip gets the
  # next one.
  head -c 16 /dev/zero >zeros.bin
  sim_do ttyC load-chip zeros.bin
  local once=(--serial 0100:4:bcd:1:1:9 --serial-journal failed.journal --steps program,verify)
  "$cli" program code.hex --port ttyC --chip "$chip" --chips samlist.txt "${once[@]}" >failed.out 2>&1
  [ $? -eq 1 ] && grep -q 'result: fail' failed.out || fail "the chip with zeros did not fail: $(cat failed.out)"
  sim_do ttyC chip otp 0x2000
  "$cli" program code.hex --port ttyC --chip "$chip" --chips samlist.txt "${once[@]}" >>failed.out 2>&1 ||
    fail "the chip after the failed one did not pass: $(cat failed.out)"
  sim_do ttyC save-chip after-failed.chip
  [ "$(number_of after-failed.chip)" = 2 ] && [ "$(grep -c '^spent' failed.journal)" -eq 2 ] ||
    fail "the failed chip's number was given again: $(cat failed.journal)"

  # A list of two keys: a third chip finds none, and nothing is programmed.
  printf '# keys\nA1B2C3D4\n0F0E0D0C\n' >keys.txt
  local keys=(--serial-list 0100:4:keys.txt --serial-journal keys.journal) run
  for run in 1 2 3; do
    sim_do ttyB chip otp 0x2000
    "$cli" program code.hex --port ttyB --chip "$chip" --chips samlist.txt "${keys[@]}" >"keys$run.out" 2>&1
  done
  grep -q 'result: pass' keys1.out && grep -q 'result: pass' keys2.out && grep -q 'run out' keys3.out &&
    ! grep -q 'result:' keys3.out || fail "the list did not pass two chips and then stop: $(cat keys*.out)"
  sim_do ttyB save-chip key.chip
  [ -z "$(tr -d '\377' <key.chip | head -c 1)" ] || fail "a chip was programmed without a key"
  # ttyD's stream was cut by the kill: its log rightly says so.
  check_wires ttyA ttyB ttyC
}

# --- a gang of four writing to the line's database, which goes away for two
# rounds and comes back: the station goes on, every chip has one row, in
# order, and no number is given twice.
check_database() {
  timing=fast
  pg=$work/pg
  db_stop() { "$repo/tests/db/pg_cluster.sh" stop "$pg" >/dev/null 2>&1; }
  trap 'cleanup; db_stop' EXIT
  local connection
  connection=$("$repo/tests/db/pg_cluster.sh" start "$pg") || { fail "no PostgreSQL cluster"; return; }
  sql() { psql -h 127.0.0.1 -p "$(cat "$pg/port")" -U kovra -d kovra -XAt -F ' ' -c "$1"; }
  start_sims ttyA ttyB ttyC ttyD
  local ports=(--port ttyA --port ttyB --port ttyC --port ttyD) rounds=8
  number_of() { od -An -tx1 -j 256 -N 4 "$1" | tr -d ' \n' | sed 's/^0*//'; }
  mkfifo go
  "$cli" program code.hex "${ports[@]}" --chip "$chip" --chips samlist.txt --json --count "$rounds" \
    --record "odbc:$connection" --station line-1 --journal station.journal \
    --serial 0100:4:bcd:1:1:9999 --serial-block 10 <go >out 2>err &
  cli_pid=$!
  exec {go}>go
  local round name numbers=()
  for round in $(seq 1 "$rounds"); do
    if [ "$round" -lt "$rounds" ]; then
      wait_for 60 sh -c '[ "$(grep -c "\"type\":\"result\"" out)" -ge "$1" ]' _ $((round * 4)) ||
        { fail "round $round never finished"; break; }
    else
      wait "$cli_pid" || fail "the gang exited $?"
      cli_pid=
    fi
    for name in ttyA ttyB ttyC ttyD; do
      sim_do "$name" save-chip "$round.$name.chip"
      numbers+=("$(number_of "$round.$name.chip")")
      sim_do "$name" chip otp 0x2000
    done
    # The server goes away after round 2 and is back after round 4.
    [ "$round" -eq 2 ] && { "$repo/tests/db/pg_cluster.sh" pause "$pg" || fail "the server did not stop"; }
    [ "$round" -eq 4 ] && { "$repo/tests/db/pg_cluster.sh" resume "$pg" || fail "the server did not start again"; }
    [ "$round" -lt "$rounds" ] && echo >&"$go"
  done
  exec {go}>&-
  local chips=$((rounds * 4))
  [ "$(grep -c '"type":"result","port":"[^"]*","result":"pass"' out)" -eq "$chips" ] ||
    fail "not every chip passed: $(grep '"result":"fail"' out | head -3)"
  grep -q '"type":"database","reachable":false' out || fail "the station never said the database was away"
  grep -q '"type":"summary".*"database_waiting":0' out || fail "rows were left waiting: $(tail -n 1 out)"
  [ "$(printf '%s\n' "${numbers[@]}" | sort -n | uniq | wc -l)" -eq "$chips" ] ||
    fail "a number was given twice: ${numbers[*]}"
  [ "$(sql "SELECT count(*), count(DISTINCT seq), min(seq), max(seq) FROM kovra_record WHERE station = 'line-1'")" = \
    "$chips $chips 1 $chips" ] || fail "the rows are not 1..$chips once each: $(sql 'SELECT seq FROM kovra_record')"
  [ "$(sql "SELECT count(*) FROM kovra_record a JOIN kovra_record b ON a.station = b.station AND b.seq = a.seq + 1
            WHERE b.time_utc < a.time_utc")" = 0 ] || fail "the rows are out of order"
  [ "$(sql "SELECT count(*) FROM kovra_record WHERE result = 'pass' AND serial <> ''")" = "$chips" ] ||
    fail "a row lacks its chip's number"
  [ "$(sql "SELECT number FROM kovra_serial_spent ORDER BY number" | tr '\n' ' ')" = \
    "$(printf '%s\n' "${numbers[@]}" | sort -n | tr '\n' ' ')" ] ||
    fail "the database's spent numbers are not the chips': $(sql 'SELECT number FROM kovra_serial_spent')"
  [ "$(sql "SELECT count(*) FROM kovra_serial_block WHERE station = 'line-1'")" -ge 4 ] ||
    fail "the station's blocks are not in the database"
  # The supervisor's report, read from the same database.
  "$cli" report "odbc:$connection" -o report.html 2>report.err || fail "report: $(cat report.err)"
  grep -q "id=\"rows-in-window\" class=\"n\">$chips<" report.html &&
    grep -q "data-series=\"0100:4:bcd:1:1:9999\" data-k=\"spent\" class=\"n\">$chips<" report.html ||
    fail "the report does not show the $chips chips and their numbers"
}

case $check in
  one) check_one ;;
  gang) check_gang ;;
  kill) check_kill ;;
  refusals) check_refusals ;;
  trust) check_trust ;;
  serial) check_serial ;;
  database) check_database ;;
  *) echo "unknown check $check" >&2; exit 2 ;;
esac
if [ "$status" -eq 0 ]; then
  echo "$check: passed"
else
  echo "--- output"; cat out
  echo "--- stderr"; cat err
  for log in *.wire; do
    echo "--- $log, without the data"; grep -v '^            ' "$log" | cut -c1-100
  done
fi
exit "$status"
