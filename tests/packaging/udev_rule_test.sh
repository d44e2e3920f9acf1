#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The programmer's udev rule, run by udev itself (udevadm test) on a made-up
# /sys in a private mount namespace, with fresh /dev and /run for each row so
# the machine's own devices and udev database stay untouched.
# Usage: udev_rule_test.sh RULES_FILE
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -f ${1:-} ]] || fail "no rules file: ${1:-}"
rules=$(realpath "$1")

# The mounts below go in a mount namespace of our own, never the machine's.
ns() { readlink "/proc/$1/ns/mnt"; }
if [[ $EUID -ne 0 || $(ns self) == "$(ns 1)" || $(ns self) == "$(ns "$PPID")" ]]; then
  if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify "$rules" || fail "udevadm verify $rules"
  fi
  if ! command -v udevadm >/dev/null || [[ $EUID -ne 0 ]] || ! unshare -m true 2>/dev/null; then
    echo "SKIP: running udev on a made-up /sys needs udevadm, root and unshare -m" >&2
    exit 77
  fi
  exec unshare -m "$BASH" "$0" "$rules"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sys=$work/sys

# DIR (under devices/) SUBSYSTEM (under /sys) DRIVER|- UEVENT-LINE...
device() {
  local dir=$sys/devices/$1
  mkdir -p "$dir" "$sys/$2"
  ln -s "/sys/$2" "$dir/subsystem"
  if [[ $3 != - ]]; then
    mkdir -p "$sys/$2/drivers/$3"
    ln -s "/sys/$2/drivers/$3" "$dir/driver"
  fi
  shift 3
  printf '%s\n' "$@" >"$dir/uevent"
}

# A USB-to-serial bridge in root hub port SOCKET: DRIVER VENDOR PRODUCT, its tty ttyUSB<MINOR>.
hub=pci0000:00/0000:00:14.0/usb1
bridge() {
  local usb=$hub/1-$1 tty=ttyUSB$5
  local port=$usb/1-$1:1.0/$tty
  device "$usb" bus/usb usb DEVTYPE=usb_device MAJOR=189 MINOR="$1" DEVNAME=bus/usb/001/00"$1"
  echo "$3" >"$sys/devices/$usb/idVendor"
  echo "$4" >"$sys/devices/$usb/idProduct"
  device "$usb/1-$1:1.0" bus/usb "$2" DEVTYPE=usb_interface
  device "$port" bus/usb-serial "$2"
  device "$port/tty/$tty" class/tty - MAJOR=188 MINOR="$5" DEVNAME="$tty"
  mkdir -p "$sys/bus/usb/devices"
  ln -s "/sys/devices/$usb" "$sys/bus/usb/devices/1-$1"
  ln -s "/sys/devices/$usb/1-$1:1.0" "$sys/bus/usb/devices/1-$1:1.0"
  ln -s "/sys/devices/$port/tty/$tty" "$sys/class/tty/$tty"
}
mkdir -p "$sys/devices/pci0000:00"
device pci0000:00/0000:00:14.0 bus/pci xhci_hcd
device "$hub" bus/usb usb DEVTYPE=usb_device
bridge 2 pl2303 067b 2303 0
bridge 3 ftdi_sio 0403 6001 1
bridge 4 pl2303 067b 2303 2
# A PL2303 port with no bus above it: udev finds no USB path for it.
device ttyUSB9 bus/usb-serial pl2303
device ttyUSB9/tty/ttyUSB9 class/tty - MAJOR=188 MINOR=9 DEVNAME=ttyUSB9
ln -s /sys/devices/ttyUSB9/tty/ttyUSB9 "$sys/class/tty/ttyUSB9"

# Our rule alone, on the made-up /sys.
mkdir -p "$work/rules" "$work/none"
cp "$rules" "$work/rules/70-kovra.rules"
mount --make-rprivate /
# Else udev refuses any device that is not on a real sysfs.
export SYSTEMD_DEVICE_VERIFY_SYSFS=0
mount --bind "$sys" /sys
mount --bind "$work/rules" /etc/udev/rules.d
# /lib may lead to /usr/lib: hide each folder once (on top of the first would hide "none").
for dir in $(realpath -qe /usr/lib/udev/rules.d /lib/udev/rules.d /usr/local/lib/udev/rules.d | sort -u); do
  mount --bind "$work/none" "$dir"
done

# KEY FILE: KEY's value in a uevent file or udev's printout.
key() { sed -n "s/^ *$1=//p" "$2"; }

# Fresh /dev and /run, each made-up device node there as root 0600.
fresh() {
  mount -t tmpfs tmpfs /run
  mount -t tmpfs tmpfs /dev
  mknod -m 666 /dev/null c 1 3
  ln -s /proc/self/fd /dev/fd
  local uevent name
  while read -r uevent; do
    name=$(key DEVNAME "$uevent")
    [[ -n $name ]] || continue
    mkdir -p "$(dirname "/dev/$name")"
    mknod -m 600 "/dev/$name" c "$(key MAJOR "$uevent")" "$(key MINOR "$uevent")"
  done < <(find "$sys/devices" -name uevent)
}

# events (ACTION:DEVICE under /sys, in turn) | /dev/kovra links (NAME>TTY; udev's DEVLINKS and
# the made links alike) | udev's TAGS | the last device's node (group mode, - for none)
pci=pci-0000:00:14.0
rows=(
  "add:class/tty/ttyUSB0 | $pci-usb-0:2:1.0>ttyUSB0 | uaccess | dialout 660"
  "change:class/tty/ttyUSB0 | $pci-usb-0:2:1.0>ttyUSB0 | uaccess | dialout 660"
  "add:class/tty/ttyUSB1 | - | - | root 600"
  "add:bus/usb/devices/1-2 | - | - | root 600"
  "add:bus/usb/devices/1-2:1.0 | - | - | -"
  "remove:class/tty/ttyUSB0 | - | - | root 600"
  "add:class/tty/ttyUSB9 | - | uaccess | dialout 660"
  "add:class/tty/ttyUSB0 add:class/tty/ttyUSB2 | $pci-usb-0:2:1.0>ttyUSB0 $pci-usb-0:4:1.0>ttyUSB2 | uaccess | dialout 660"
)

words() { tr ' ' '\n' | sed '/^$/d' | sort -u | paste -sd' ' | sed 's/^$/-/'; }

for row in "${rows[@]}"; do
  IFS='|' read -r events want_links want_tags want_node <<<"$row"
  fresh
  printed='' tags='' node=-
  for event in $events; do
    udevadm test --action="${event%%:*}" "/sys/${event#*:}" >"$work/out" 2>"$work/log" \
      || fail "$row: udevadm test: $(tail -n 3 "$work/log")"
    devname=$(key DEVNAME "$work/out")
    for link in $(key DEVLINKS "$work/out"); do
      if [[ $link == /dev/kovra/* ]]; then printed+=" ${link#/dev/kovra/}>${devname##*/}"; fi
    done
    tags+=" $(key TAGS "$work/out" | tr ':' ' ')"
    node=-
    if [[ -n $devname ]]; then node=$(stat -c '%G %a' "$devname"); fi
  done
  made=''
  for link in /dev/kovra/*; do
    if [[ -L $link ]]; then made+=" ${link##*/}>$(basename "$(readlink "$link")")"; fi
  done
  want_links=$(words <<<"$want_links")
  [[ $(words <<<"$printed") == "$want_links" ]] || fail "$row: udev gave links: $(words <<<"$printed")"
  [[ $(words <<<"$made") == "$want_links" ]] || fail "$row: /dev/kovra holds: $(words <<<"$made")"
  [[ $(words <<<"$tags") == "$(words <<<"$want_tags")" ]] || fail "$row: tags: $(words <<<"$tags")"
  [[ $node == "$(xargs <<<"$want_node")" ]] || fail "$row: node: $node"
  echo "ok: $events"
done
