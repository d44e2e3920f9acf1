# SPDX-License-Identifier: MIT
# Shared by ./run, the end-to-end tests and the figures script: the Wine
# prefix the program runs in, a display, and the simulated programmer.
# Needs scripts/common.sh.

APP_PACKAGES=(xvfb imagemagick fonts-wqy-microhei x11-utils)
SETTINGS_KEY='HKLM\Software\Lentaro\KovraV30C'
USER_SETTINGS_KEY='HKCU\Software\Lentaro\KovraV30C'

# The Chinese fonts (substitute_fonts), Wine's services kept running, and
# the installation folder, where samlist.txt is. With "fresh", the
# remembered port and chip go.
KEEPER_FD=""
prepare_app_prefix() {
  local data=$1 fresh=${2:-}
  wine_env
  wineserver -p30 >/dev/null 2>&1 || true
  # Wine's services rebuild the serial port map whenever they start, which
  # they do again after idling a few seconds without a Wine program: a
  # program kept running keeps them, and the simulator's entry, alive.
  [ -z "$KEEPER_FD" ] && exec {KEEPER_FD}> >(exec wine cmd >/dev/null 2>&1)
  substitute_fonts
  if [ "$fresh" = fresh ]; then
    # A new prefix has no such keys: nothing to delete is what fresh means.
    wine reg delete "$SETTINGS_KEY" /f >/dev/null 2>&1 || true
    wine reg delete "$USER_SETTINGS_KEY" /f >/dev/null 2>&1 || true
  fi
  wine reg add "$SETTINGS_KEY" /v setup /t REG_SZ /d "$(winepath -w "$data")" /f >/dev/null 2>&1
}

# A Chinese-capable font behind the dialog font names (SimSun is the face of
# the status line and the number fields), once a prefix.
substitute_fonts() {
  if [ ! -f "$WINEPREFIX/.kovra-fonts" ]; then
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "System" "SimSun"; do
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    touch "$WINEPREFIX/.kovra-fonts"
  fi
}

# Xvfb on a free display number, unless one is given; sets DISPLAY.
XVFB_PID=""
start_xvfb() {
  local n=${1:-90}
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  export DISPLAY=:$n
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

# kovra-sim as COM5 of the prefix, behind a "\Device\ProlificSerial0" entry,
# with a control FIFO. Waits until it is ready.
SIM_PID=""
start_sim() {
  local sim=$1 work=$2
  shift 2
  : >"$work/sim.out"
  "$sim" --link "$WINEPREFIX/dosdevices/com5" --wine-prefix "$WINEPREFIX" --com 5 \
    --control "$work/sim.control" --log "$work/wire.log" "$@" >>"$work/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 300); do
    if grep -q "kovra-sim: ready" "$work/sim.out"; then
      wait_for_port_entry && return 0
      break
    fi
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "kovra-sim did not start:" >&2
  cat "$work/sim.out" >&2
  return 1
}

# Sends a control command to the kovra-sim start_sim started in WORK and
# waits for its "ok"; false when it does not come.
sim_command() {
  local work=$1
  shift
  local before
  before=$(wc -l <"$work/sim.out")
  echo "$*" >"$work/sim.control"
  for _ in $(seq 100); do
    [ "$(wc -l <"$work/sim.out")" -gt "$before" ] && break
    sleep 0.05
  done
  tail -n +"$((before + 1))" "$work/sim.out" | grep -qx ok
}

wait_for_port_entry() {
  for _ in $(seq 20); do
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | grep -q 'ProlificSerial' && return 0
    sleep 0.5
  done
  echo "the serial port map never showed the simulator" >&2
  return 1
}

stop_app_env() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=""
  fi
  if [ -n "$KEEPER_FD" ]; then
    exec {KEEPER_FD}>&-
    KEEPER_FD=""
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  fi
}

# Protocol misuse that the simulator logged: each one fails the test.
check_wire_log() {
  local log=$1
  grep -q '  note violation: ' "$log" 2>/dev/null || return 0
  echo "FAILED: the simulator logged protocol violations:"
  grep '  note violation: ' "$log" | head -n 20
  return 1
}

RECORD_HEADER='time,port,chip,code file,file checksum,memory checksum,steps,result,status,elapsed s,failure,address,serial,job,job sha256'
# A production record file read as RFC 4180 CSV: CRLF after every row, the last
# one included; 15 fields a row (quoted commas count as text); the header once,
# first. Prints each row's fields between tabs, unquoted, header left out.
record_rows() {
  perl -e '
    local $/; binmode STDIN; my $d = <STDIN>; my $n = 0;
    die "empty\n" if $d eq "";
    die "the last row does not end in CRLF\n" unless $d =~ /\r\n\z/;
    while ((pos($d) // 0) < length $d) {
      my @f;
      for (;;) {
        if ($d =~ /\G"((?:[^"]|"")*)"/gc) { (my $v = $1) =~ s/""/"/g; push @f, $v }
        else { $d =~ /\G([^",\r\n]*)/gc; push @f, $1 }
        next if $d =~ /\G,/gc;
        last if $d =~ /\G\r\n/gc;
        die "row $n is broken at byte " . pos($d) . "\n";
      }
      die "row $n has " . @f . " fields\n" unless @f == 15;
      my $row = join(",", @f);
      die "row $n: no header first\n" if $n == 0 && $row ne $ARGV[0];
      die "row $n is a second header\n" if $n > 0 && $row eq $ARGV[0];
      print join("\t", @f), "\n" if $n++ > 0;
    }' "$RECORD_HEADER" <"$1"
}

# The kovra-sim options a drive script asks for on its first line
# ("# sim: OPTIONS").
sim_options() {
  sed -nE '1s/^# sim: //p' "$1"
}

# Plays a drive script through kovra-drive.exe against PROGRAM, by default
# the kovra.exe of the Windows build folder; screenshots go to SHOTS, the
# simulator is the one start_sim started in WORK. Scripts name controls as
# the code does (kStatusLine, IDC_SUCCESS_START, ...) and files through
# @REPO@ (for the simulator), @DATA@, @WORK@ and @APP@ (for the program;
# @APP@ is its own folder). Prints the driver's lines as they come; returns
# its exit status.
run_drive() {
  local script=$1 windows=$2 work=$3 shots=$4 program=${5:-$2/src/win32/kovra.exe}
  local names data workpath app
  names=$(
    sed -nE 's/^inline constexpr int (k[A-Za-z0-9]+) = ([0-9]+);.*/s\/\\<\1\\>\/\2\/g/p' src/base/control_ids.h
    sed -nE 's/^#define (IDC_[A-Z0-9_]+) (-?[0-9]+).*/s\/\\<\1\\>\/\2\/g/p' src/win32/resource.h
  )
  data=$(winepath -w "$PWD/data" | sed 's/\\/\\\\/g')
  workpath=$(winepath -w "$work" | sed 's/\\/\\\\/g')
  app=$(winepath -w "$(dirname "$program")" | sed 's/\\/\\\\/g')
  sed -E "$names; s|@REPO@|$PWD|g; s|@DATA@|$data|g; s|@WORK@|$workpath|g; s|@APP@|$app|g" "$script" >"$work/script.drive"
  KOVRA_EXE=$(winepath -w "$program") \
  KOVRA_SHOTS=$(winepath -w "$shots") \
  KOVRA_SIM_CONTROL=$(winepath -w "$work/sim.control") \
    wine "$windows/tests/e2e/kovra-drive.exe" "$(winepath -w "$work/script.drive")" 2>"$work/driver.err" |
    stdbuf -oL tr -d '\r'
  return "${PIPESTATUS[0]}"
}

# The driver's screenshots as PNG.
convert_shots() {
  local dir=$1
  for bmp in "$dir"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
}
