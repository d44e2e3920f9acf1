#!/usr/bin/env bash
# Builds kovra.exe, prepares a private Wine prefix (Chinese font, installation
# folder), runs the window checks, starts the program (under Xvfb when there
# is no display) and takes a screenshot of the start-up state.
#
#   scripts/gui-smoke.sh [--keep] [--sim PATH/TO/kovra-sim]
#
# --keep leaves the program (and Xvfb, the simulator) running.
# --sim puts the simulated programmer on COM5 first, so the program connects.
# Without it the first connect fails and a message box about the missing USB
# link is open: expected.
# Settings: BUILD (build folder), OUT (screenshots), WINEPREFIX, SMOKE_DISPLAY.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

keep=0
sim=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1 ;;
    --sim) sim=$2; shift ;;
    *) echo "usage: $0 [--keep] [--sim PATH/TO/kovra-sim]" >&2; exit 2 ;;
  esac
  shift
done
BUILD=${BUILD:-build/gui-win}
OUT=${OUT:-out/gui-smoke}
export WINEPREFIX=${WINEPREFIX:-$PWD/build/gui-prefix}

ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}" xvfb imagemagick fonts-wqy-microhei

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$BUILD" --target kovra kovra_window_check

wine_env
# One wineserver for the whole run (ending whatever an earlier --keep left in
# this prefix): the serial port map the simulator writes is volatile and
# lives only as long as the server.
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wineserver -p >/dev/null 2>&1

# Chinese text needs a CJK font behind the dialog font names; SimSun is the
# face of the status line and the number fields.
for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "System" "SimSun"; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
# The installation folder: where samlist.txt is.
wine reg add 'HKLM\Software\Lentaro\KovraV30C' /v setup /t REG_SZ /d "$(winepath -w "$PWD/data")" /f \
  >/dev/null 2>&1

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=${SMOKE_DISPLAY:-:91}
  Xvfb "$DISPLAY" -screen 0 1024x768x24 >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
fi

wine "$BUILD/src/win32/kovra_window_check.exe"

sim_pid=""
if [ -n "$sim" ]; then
  "$sim" --link "$WINEPREFIX/dosdevices/com5" --wine-prefix "$WINEPREFIX" --com 5 &
  sim_pid=$!
  sleep 3
fi

mkdir -p "$OUT"
wine "$BUILD/src/win32/kovra.exe" >/dev/null 2>&1 &
app_pid=$!
# Start-up, the first connect 500 ms later and its message box.
sleep "${SMOKE_WAIT:-6}"
import -window root "$OUT/start.png"
echo "screenshot: $OUT/start.png"

if [ "$keep" = 1 ]; then
  echo "kovra.exe runs (pid $app_pid) on DISPLAY=$DISPLAY, prefix $WINEPREFIX"
  [ -n "$sim_pid" ] && echo "kovra-sim pid $sim_pid"
  [ -n "$xvfb_pid" ] && echo "Xvfb pid $xvfb_pid"
  exit 0
fi
kill "$app_pid" 2>/dev/null || true
if [ -n "$sim_pid" ]; then
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
fi
wineserver -k 2>/dev/null || true
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
