#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a user meets it:
#
#   tests/packaging/check_deb.sh PACKAGE.deb
#
# lintian finds no error; unpacked into a temporary root, its kovra-cli
# reads the chip list of that root (worked out from its own path) and
# programs a chip on its kovra-sim with a sample of that root, its manual
# pages render without a warning, its bash completion completes, and its
# udev rule matches the bridge's ports and nothing else.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

status=0
fail() {
  echo "FAILED: $*"
  status=1
}

echo "-- lintian"
# Errors fail; the warnings that stay are listed in the README.
lintian --fail-on error "$deb" 2>&1 | grep -v 'root privileges is not recommended'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports an error"

root=$work/root
dpkg-deb -x "$deb" "$root" || exit 1
cli=$root/usr/bin/kovra-cli

echo "-- the chip list of the unpacked root"
# A chip only this root's list holds: found, the list was that one.
echo "KVROOT8     OTP   0   12V   5V   1" >>"$root/usr/share/kovra/samlist.txt"
chips=$("$cli" chips) || fail "kovra-cli chips: exit $?"
grep -q ': KVROOT8 OTP' <<<"$chips" || fail "kovra-cli chips did not read $root/usr/share/kovra/samlist.txt"

echo "-- a chip programmed on the unpacked kovra-sim"
"$root/usr/bin/kovra-sim" --timing fast --chip otp --rom-size 0x2000 --link "$work/port" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -qs 'kovra-sim: ready' "$work/sim.out" && break; sleep 0.05; done
out=$("$cli" program "$root/usr/share/kovra/samples/demo.hex" --port "$work/port" --chip KV86C08 \
  --record "$work/record.csv" 2>&1) || fail "kovra-cli program: exit $?"
echo "$out"
grep -q 'result: pass' <<<"$out" || fail "the chip did not pass"
grep -q ",KV86C08,.*,pass," "$work/record.csv" || fail "no passed row in the record"

echo "-- manual pages"
for page in kovra-cli kovra-sim; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -s "$file" ] || { fail "no manual page $page(1)"; continue; }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
done

echo "-- bash completion"
"$repo/tests/packaging/completion_test.sh" "$cli" \
  "$root/usr/share/bash-completion/completions/kovra-cli" || fail "bash completion"

echo "-- udev rule"
"$repo/tests/packaging/udev_rule_test.sh" "$root/lib/udev/rules.d/70-kovra.rules"
case $? in
  0) ;;
  77) echo "udev rule: skipped" ;;
  *) fail "udev rule" ;;
esac

[ "$status" -eq 0 ] && echo "package: all checks passed"
exit "$status"
