#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows build of kovra-cli, run under Wine, must answer exactly as the
# native one: same texts, same HEX file bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
wine_env

native=build/native/cli/kovra-cli
windows=build/windows/cli/kovra-cli.exe
work=$(mktemp -d build/wine-smoke.XXXXXX)
trap 'rm -rf "$work"' EXIT

compare() {
  local what=$1; shift
  local want got
  want=$("$native" "$@" 2>/dev/null) || true
  got=$(wine "$windows" "$@" 2>/dev/null | tr -d '\r') || true
  if [ "$want" != "$got" ]; then
    echo "$what differs under Wine:"; diff <(echo "$want") <(echo "$got") || true
    return 1
  fi
  echo "$what: same under Wine"
  echo "$got" | sed 's/^/  /'
}

compare "version" --version
compare "help" program --help
compare "load" load data/samples/demo.hex
compare "chips" chips data/samlist.txt

"$native" save-hex data/samples/demo.hex 00000 00BFF "$work/native.hex" >/dev/null
wine "$windows" save-hex data/samples/demo.hex 00000 00BFF "$work/wine.hex" >/dev/null
cmp "$work/native.hex" "$work/wine.hex"
echo "save-hex: same file under Wine"
