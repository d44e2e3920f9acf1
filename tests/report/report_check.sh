#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra-cli report on a record of known content, the page opened in headless
# Chromium: a screenshot that is not blank, and the numbers of the rendered
# page against those counted here from a ledger written beside the record.
# Usage: report_check.sh PATH/TO/kovra-cli [OUTDIR]
set -uo pipefail
cli=${1:?usage: $0 PATH/TO/kovra-cli [OUTDIR]}
outdir=${2:-$PWD/report-check}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export LC_ALL=C.UTF-8
mkdir -p "$outdir"

header='time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address,serial,job,job sha256'
old_header='time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address'
code='C:\fw\remote "<v3>" & co.hex'
csv_code='"C:\fw\remote ""<v3>"" & co.hex"'

status_of() {
  case $1 in
    '') echo '"编程器连接错误,USB端口可能工作异常或编程器可能正忙"' ;;
    not-blank) echo '"芯片不空, 在地址: 00100"' ;;
    verify-failed) echo '校验芯片失败! 在地址: 00200' ;;
    program-checksum) echo '编程芯片失败! [校验和错]' ;;
    pass) echo '自动编程已成功完成' ;;
  esac
}

# One record row and its ledger line: station, port, hour, result, failure,
# elapsed ms, serial number (- for none). SECONDS count from 08:00 UTC.
# row STATION FILE COLUMNS SECONDS PORT RESULT FAILURE ELAPSED_MS SERIAL
row() {
  local station=$1 file=$2 columns=$3 seconds=$4 port=$5 result=$6 failure=$7 ms=$8 serial=$9
  local time status bytes='' elapsed line
  printf -v time '2026-12-08T%02d:%02d:%02dZ' $((8 + seconds / 3600)) $((seconds / 60 % 60)) $((seconds % 60))
  status=$(status_of "${failure:-$result}")
  [ "$result" = fail ] && [ -z "$failure" ] && status=$(status_of '')
  [ "$serial" != - ] && printf -v bytes '%08d' "$serial"
  printf -v elapsed '%d.%03d' $((ms / 1000)) $((ms % 1000))
  line="$time,$port,KV86C08,$csv_code,5E21,5E21,\"blank,program,verify\",$result,$status,$elapsed,$failure,"
  [ "$columns" = 15 ] && line+=",$bytes,,"
  printf '%s\r\n' "$line" >>"$file"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$station" "$port" "${time:0:13}" "$result" "${failure:-unknown}" "$ms" \
    "$serial" >>"$tmp/ledger.tsv"
}

kinds=(not-blank verify-failed not-blank program-checksum not-blank verify-failed '' not-blank)
: >"$tmp/ledger.tsv"

# A shift of 08:00 to 12:00 with a break from 10:00 to 11:00. Each port's
# chips follow one another at the chip's time plus the operator's hands.
# station STATION FILE COLUMNS SERIALS PORT=BASE_MS/FAIL_EVERY ...
station() {
  local name=$1 file=$2 columns=$3 serials=$4
  shift 4
  local -a ports=() base=() every=() clock=()
  local given
  for given in "$@"; do
    ports+=("${given%%=*}")
    given=${given#*=}
    base+=("${given%/*}") every+=("${given#*/}") clock+=(0)
  done
  local n=0 p serial=1001 ms result failure number
  while ((clock[0] < 4 * 3600)); do
    for p in "${!ports[@]}"; do
      ms=$((base[p] + n % 3 * 250)) result=pass failure=
      if ((n % every[p] == every[p] / 2)); then
        result=fail failure=${kinds[n / every[p] % ${#kinds[@]}]} ms=$((base[p] / 3))
      fi
      clock[p]=$((clock[p] + ms / 1000 + 6 + n % 5))
      ((clock[p] >= 2 * 3600 && clock[p] < 3 * 3600)) && clock[p]=$((3 * 3600 + p * 7))
      ((clock[p] >= 4 * 3600)) && continue
      number=-
      if [ "$serials" = yes ]; then
        number=$serial serial=$((serial + 1))
        ((serial == 1010)) && serial=1013 # three numbers never spent
      fi
      row "$name" "$file" "$columns" "${clock[p]}" "${ports[p]}" "$result" "$failure" "$ms" "$number"
      n=$((n + 1))
      # A row a full disk cut short, ended by the next append.
      ((n == 40)) && printf '2026-12-08T08:40:00Z,%s,KV86C08,"C:\\fw"\r\n' "${ports[p]}" >>"$file"
    done
  done
}

line1=$tmp/line1.csv
printf '%s\r\n' "$header" >"$line1"
station line1 "$line1" 15 yes /dev/kovra/pci-0000:00:14.0-usb-0:1:1.0=9000/23 \
  /dev/kovra/pci-0000:00:14.0-usb-0:2:1.0=10000/31
# A crash in the middle of the last row.
printf '2026-12-08T11:59:59Z,/dev/kovra/pci-0000:00:14.0-usb-0:1:1.0,KV86C08,"C:\\fw' >>"$line1"
# A file an older version began: twelve columns, no serial numbers.
line2=$tmp/line2.csv
printf '%s\r\n' "$old_header" >"$line2"
station line2 "$line2" 12 no COM3=12500/17 COM4=15000/29

page=$tmp/report.html
if ! "$cli" report "$line1" "$line2" -o "$page"; then
  echo "FAIL: kovra-cli report exited $?" >&2
  exit 1
fi
"$cli" report "$line1" "$line2" | cmp -s - "$page" || {
  echo "FAIL: the page on standard output differs from the one -o wrote" >&2
  exit 1
}

browser=$(command -v chromium || command -v chromium-browser) || {
  echo "FAIL: chromium is not installed" >&2
  exit 1
}
flags=(--headless=new --disable-gpu --hide-scrollbars --user-data-dir="$tmp/profile" "--window-size=1200,2400")
[ "$(id -u)" -eq 0 ] && flags+=(--no-sandbox)
timeout 120 "$browser" "${flags[@]}" --screenshot="$tmp/report.png" "file://$page" >"$tmp/chromium.log" 2>&1
timeout 120 "$browser" "${flags[@]}" --dump-dom "file://$page" >"$tmp/dom.html" 2>>"$tmp/chromium.log"
cp "$page" "$outdir/report.html"
[ -f "$tmp/report.png" ] && cp "$tmp/report.png" "$outdir/report.png"

failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}
if [ ! -s "$tmp/report.png" ]; then
  fail "no screenshot"
  cat "$tmp/chromium.log" >&2
else
  # A blank or black page has one or two colours; this one has text, bars
  # in four colours and their anti-aliased edges.
  read -r width height colours < <(identify -format '%w %h %k\n' "$tmp/report.png")
  [ "$width x $height" = "1200 x 2400" ] || fail "screenshot is ${width}x$height"
  ((colours >= 50)) || fail "screenshot has $colours colours: blank?"
fi
grep -q '</html>' "$tmp/dom.html" || fail "no DOM dumped"

# The text of the cell <td ATTRIBUTES ...> in the rendered page.
cell() {
  grep -o "<td ${1//\*/\\*}\( [^>]*\)\?>[^<]*</td>" "$tmp/dom.html" | head -n 1 | sed 's/^<td [^>]*>//; s/<\/td>$//'
}
check() {
  local got
  got=$(cell "$1")
  [ "$got" = "$2" ] || fail "$1: page $got, record $2"
}

# The record counted from the ledger: one expectation a line, attributes
# then the value, in the page's format (yield in tenths of a per cent,
# rounded half up).
awk -F'\t' '
  function pct(p, c,   t) { t = int((p * 2000 + c) / (2 * c)); return sprintf("%d.%d", int(t / 10), t % 10) }
  {
    key = $1 SUBSEP $2; ports[key] = 1; stations[$1] = 1; hours[$3] = 1
    chips[key]++; schips[$1]++; lchips++; hchips[$3]++; worked[$3, key] = 1
    if ($4 == "pass") {
      passed[key]++; spassed[$1]++; lpassed++; hpassed[$3]++
      if (!(key in fastest) || $6 < fastest[key]) fastest[key] = $6
    } else { failed[key]++; sfailed[$1]++; lfailed++; kinds[$5]++; if ($7 != "-") failedspent++ }
    if ($7 != "-") { serials[$7] = 1; if (low == "" || $7 < low) low = $7; if ($7 > high) high = $7 }
  }
  END {
    for (key in ports) {
      split(key, k, SUBSEP); a = "data-scope=\"port\" data-station=\"" k[1] "\" data-port=\"" k[2] "\""
      print a " data-k=\"chips\"\t" chips[key]
      print a " data-k=\"passed\"\t" passed[key] + 0
      print a " data-k=\"failed\"\t" failed[key] + 0
      print a " data-k=\"yield\"\t" pct(passed[key], chips[key])
      print a " data-k=\"floor-s\"\t" sprintf("%d.%03d", int(fastest[key] / 1000), fastest[key] % 1000)
    }
    for (s in stations) {
      a = "data-scope=\"station\" data-station=\"" s "\""
      print a " data-k=\"chips\"\t" schips[s]
      print a " data-k=\"failed\"\t" sfailed[s] + 0
      print a " data-k=\"yield\"\t" pct(spassed[s], schips[s])
    }
    print "data-scope=\"line\" data-k=\"chips\"\t" lchips
    print "data-scope=\"line\" data-k=\"passed\"\t" lpassed
    print "data-scope=\"line\" data-k=\"yield\"\t" pct(lpassed, lchips)
    for (h in hours) {
      a = "data-hour=\"" h "\""
      floor = 0
      for (key in ports) if ((h, key) in worked) floor += 3600000 / fastest[key]
      print a " data-k=\"chips\"\t" hchips[h]
      print a " data-k=\"passed\"\t" hpassed[h] + 0
      print a " data-k=\"floor\"\t" sprintf("%.1f", floor)
    }
    for (f in kinds) print "data-failure=\"" f "\" data-k=\"count\"\t" kinds[f]
    print "data-failure=\"*\" data-k=\"count\"\t" lfailed
    n = 0; for (s in serials) n++
    print "data-series=\"serial\" data-k=\"spent\"\t" n
    print "data-series=\"serial\" data-k=\"lowest\"\t" low
    print "data-series=\"serial\" data-k=\"highest\"\t" high
    print "data-series=\"serial\" data-k=\"missing\"\t" high - low + 1 - n
    print "failed-spent\t" failedspent + 0
    print "rows\t" NR
  }' "$tmp/ledger.tsv" >"$tmp/expected.tsv"

checked=0
while IFS=$'\t' read -r attributes value; do
  case $attributes in
    failed-spent) grep -q "<span id=\"failed-spent\">$value</span>" "$tmp/dom.html" || fail "failed-spent: not $value" ;;
    rows) check 'id="rows-read"' "$value" ;;
    *) check "$attributes" "$value" ;;
  esac
  checked=$((checked + 1))
done <"$tmp/expected.tsv"
check 'id="rows-skipped"' 3
((checked > 40)) || fail "only $checked numbers checked"

# The Pareto: most first, and the cumulative share of each in that order.
LC_ALL=C sort -t$'\t' -k2,2nr -k1,1 < <(cut -f5 <(awk -F'\t' '$4 == "fail"' "$tmp/ledger.tsv") | sort | uniq -c |
  awk '{ print $2 "\t" $1 }') >"$tmp/pareto.tsv"
total=$(awk -F'\t' '{ n += $2 } END { print n }' "$tmp/pareto.tsv")
sum=0
order=
while IFS=$'\t' read -r kind count; do
  sum=$((sum + count))
  check "data-failure=\"$kind\" data-k=\"cumulative\"" "$(awk -v s="$sum" -v t="$total" \
    'BEGIN { x = int((s * 2000 + t) / (2 * t)); printf "%d.%d", int(x / 10), x % 10 }')"
  order+="$kind "
done <"$tmp/pareto.tsv"
got_order=$(grep -o 'data-failure="[^"*]*" data-k="count"' "$tmp/dom.html" | sed 's/data-failure="//; s/".*//' |
  tr '\n' ' ')
[ "$got_order" = "$order" ] || fail "Pareto order: page $got_order, record $order"

grep -q 'data-gap="1010-1012"' "$tmp/dom.html" || fail "the gap 1010-1012 is not shown"
grep -q '<td data-failure="not-blank" data-k="status">芯片不空, 在地址: 00100</td>' "$tmp/dom.html" ||
  fail "the Chinese status text is not in the page"
grep -qF '<td class="code-file">C:\fw\remote "&lt;v3&gt;" &amp; co.hex</td>' "$tmp/dom.html" ||
  fail "the code file's name is not shown as it is: $code"
grep -q 'id="code-files"' "$tmp/dom.html" || fail "the page ends before its last table"

echo "screenshot: $outdir/report.png"
echo "page: $outdir/report.html"
if ((failed)); then
  echo "report check: FAILED" >&2
  exit 1
fi
echo "report check: $checked numbers of the page match the record"
