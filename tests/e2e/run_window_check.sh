#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# kovra_window_check.exe under Wine and Xvfb: the checks of the Windows main
# window that need a real window (see src/win32/tests/window_check.cpp).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
source scripts/app_env.sh
windows=$(realpath "${KOVRA_WINDOWS_BUILD:-build/windows}")
trap stop_app_env EXIT
start_xvfb 90 || exit 1
prepare_app_prefix "$PWD/data" fresh
wine "$windows/src/win32/kovra_window_check.exe" 2>/dev/null | tr -d '\r'
exit "${PIPESTATUS[0]}"
