#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra_link_check.exe under Wine against kovra-sim: the link on the real
# Windows serial port and serial port map (see tests/e2e/link_check.cpp).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/app_env.sh
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
sim=$(realpath "${KOVRA_SIM:-build/native/sim/kovra-sim}")
work=$PWD/build/e2e/link_check
rm -rf "$work"
mkdir -p "$work"
trap stop_app_env EXIT
prepare_app_prefix "$PWD/data" fresh
start_sim "$sim" "$work" || exit 1
wine "$windows/tests/e2e/kovra_link_check.exe" 2>/dev/null | tr -d '\r'
status=${PIPESTATUS[0]}
check_wire_log "$work/wire.log" || status=1
if [ "$status" -ne 0 ]; then
  echo "--- wire log"; cat "$work/wire.log"
fi
exit "$status"
