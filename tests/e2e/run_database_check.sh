#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The line's database under Wine: kovra-cli.exe and the real window, each a
# station, program chips on kovra-sim into one throwaway PostgreSQL through
# Wine's odbc32 (the host's unixODBC and its PostgreSQL driver); psql then
# reads back every row, and kovra-cli.exe report names both stations.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
source scripts/common.sh
source scripts/app_env.sh
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
sim=$(realpath "${KOVRA_SIM:-build/native/sim/kovra-sim}")
work=$PWD/build/e2e/database
shots=$PWD/out/e2e/database
pg=$work/pg
# A run killed at its time-out left its server running.
tests/db/pg_cluster.sh stop "$pg" >/dev/null 2>&1
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"

status=0
fail() {
  echo "FAILED: $*"
  status=1
}

cleanup() {
  # The prefix is shared: the next scenario must not find a database record.
  [ -n "${WINEPREFIX:-}" ] && wine reg delete "$USER_SETTINGS_KEY" /v record /f >/dev/null 2>&1
  stop_app_env
  tests/db/pg_cluster.sh stop "$pg" >/dev/null 2>&1
}
trap cleanup EXIT

# The server trusts every login: a password in the connection is only there
# to be looked for where it must never land.
secret=kovra-e2e-secret
connection=$(tests/db/pg_cluster.sh start "$pg") || exit 1
connection="${connection}Pwd=$secret;"
sql() { PGCLIENTENCODING=UTF8 psql -h 127.0.0.1 -p "$(cat "$pg/port")" -U kovra -d kovra -XAt -F ' ' -c "$1"; }

start_xvfb 90 || exit 1
prepare_app_prefix "$PWD/data" fresh
start_sim "$sim" "$work" --chip otp --rom-size 0x2000 || exit 1

sim_do() { sim_command "$work" "$@" || fail "kovra-sim did not take '$*'"; }

cli() {
  wine "$windows/cli/kovra-cli.exe" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  sed -i 's/\r$//' "$work/out" "$work/err"
  return "$rc"
}

passed_text=自动编程已成功完成
code=$(winepath -w data/samples/demo.hex)
chips=$(winepath -w data/samlist.txt)
passed=$(printf 'port: COM5 result: pass status: %s\npassed: 1\nfailed: 0\ndatabase waiting: 0' "$passed_text")

# The command line's station: two chips, one run each, one journal.
for chip in 1 2; do
  sim_do chip otp 0x2000
  cli program "$code" --port COM5 --chip KV86C08 --chips "$chips" \
    --record "odbc:$connection" --station wine-cli --journal "$(winepath -w "$work/cli.journal")"
  rc=$?
  [ "$rc" -eq 0 ] || fail "kovra-cli.exe, chip $chip: exit status $rc: $(cat "$work/out" "$work/err")"
  [ "$(cat "$work/out")" = "$passed" ] || fail "kovra-cli.exe, chip $chip: output differs:$(diff <(echo "$passed") "$work/out")"
done

# The window's station: the prefix's computer name, its journal under
# %LOCALAPPDATA%; one an earlier run left would number the rows on.
station=$(wine cmd /c echo %COMPUTERNAME% 2>/dev/null | tr -d '\r')
appdata=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
[ -n "$station" ] && [ -d "$appdata" ] || fail "no computer name or LOCALAPPDATA in the prefix"
rm -f "$appdata/kovra/record-$station.journal"
wine reg add "$USER_SETTINGS_KEY" /v record /t REG_SZ /d "odbc:$connection" /f >/dev/null 2>&1 ||
  fail "the record value was not set"

sim_do chip otp 0x2000
cat >"$work/window.drive" <<EOF
launch
wait kStatusLine 10000 OK, 已检测到 Kovra-V3.0C 连接在端口 USB TO COM5
select kChipCombo 3
expect kChipCombo KV86C08
click kDebugMode
expect-checked kDebugMode 0
click kOpenFile
file-dialog @DATA@\\samples\\demo.hex
# The checksum agrees, then the memory is read back: done at its second text.
wait-prefix kStatusLine 30000 请稍候,比较编程内存与代码文件
wait kStatusLine 30000 编程内存检查和 =  FA00
click kAutoProgram
wait kStatusLine 30000 $passed_text
sim chip otp 0x2000
click kAutoProgram
wait kStatusLine 30000 $passed_text
expect kSuccessCount 000002
shot two-chips
# The sender's moment to deliver the last row before the window closes.
sleep 2000
key kStartAddress ESCAPE
wait-exit 10000
EOF
run_drive "$work/window.drive" "$windows" "$work" "$shots" | tee "$work/driver.out"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the window's run did not pass"
convert_shots "$shots"

want=$(printf '%s %s pass %s\n' "$station" 1 "$passed_text" "$station" 2 "$passed_text" \
  wine-cli 1 "$passed_text" wine-cli 2 "$passed_text")
rows=$(sql "SELECT station, seq, result, status FROM kovra_record WHERE chip = 'KV86C08' AND port = 'COM5'
            ORDER BY station = 'wine-cli', seq") || fail "psql could not read kovra_record"
[ "$rows" = "$want" ] || fail "the rows are not one a chip from each station:$(diff <(echo "$want") <(echo "$rows"))"
[ "$(sql 'SELECT count(*) FROM kovra_record')" = 4 ] || fail "other rows: $(sql 'SELECT * FROM kovra_record')"
leaks=$(sql "SELECT kovra_record::text FROM kovra_record" | grep -iE "$secret|Driver=|Server=|Uid=")
[ -z "$leaks" ] || fail "the connection string is in a row: $leaks"

cli report "odbc:$connection" -o "$(winepath -w "$work/page.html")"
rc=$?
[ "$rc" -eq 0 ] || fail "kovra-cli.exe report: exit status $rc: $(cat "$work/err")"
for name in "$station" wine-cli; do
  grep -qF "data-scope=\"station\" data-station=\"$name\" data-k=\"passed\" class=\"n\">2<" "$work/page.html" ||
    fail "the report does not give $name its two chips"
done
! grep -q "$secret" "$work/page.html" || fail "the report shows the password"

check_wire_log "$work/wire.log" || status=1
if [ "$status" -ne 0 ]; then
  echo "--- kovra-sim"; cat "$work/sim.out"
  echo "--- driver stderr"; tail -n 20 "$work/driver.err"
else
  echo "database check: passed"
fi
exit "$status"
