#!/usr/bin/env bash
# The serial adapters' udev rule as udev reads it among Debian's own rules: `udevadm test` with
# the rule laid into /etc/udev/rules.d inside a private mount namespace (a tmpfs over the folder,
# gone when the namespace ends), so the machine's rules are never touched.
# Checks: udev reads the rule after 60-serial.rules, which sets the USB properties of a tty; the
# rule has no line udev refuses; a USB serial adapter, where the machine has one, is marked
# ID_MM_DEVICE_IGNORE=1, and a tty that is not on USB is not.
# Exit 77 (skipped) where the machine does not allow it: no udevadm, not root, no namespaces.
set -uo pipefail
rule=${1:?usage: udev-rule.sh RULES_FILE}
name=$(basename "$rule")

if ! command -v udevadm >/dev/null || ! command -v unshare >/dev/null; then
  echo "SKIP: udevadm or unshare is not installed"; exit 77
fi
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: udevadm test needs root"; exit 77; fi
if [ ! -d /etc/udev/rules.d ]; then echo "SKIP: no /etc/udev/rules.d"; exit 77; fi
if ! unshare -m true 2>/dev/null; then echo "SKIP: no mount namespace allowed here"; exit 77; fi

# One `udevadm test` of the device at $1 (a /sys path), the rule in place; prints its output.
udev_test() {
  unshare -m bash -c '
    mount -t tmpfs moirex-udev-test /etc/udev/rules.d || exit 70
    cp "$1" /etc/udev/rules.d/ || exit 70
    udevadm test --action=add "$2" 2>&1' _ "$rule" "$1"
}

usb_tty=""
for t in /sys/class/tty/ttyUSB* /sys/class/tty/ttyACM*; do
  [ -e "$t" ] && { usb_tty=$t; break; }
done
other_tty=/sys/class/tty/tty0
[ -e "$other_tty" ] || other_tty=$(ls -d /sys/class/tty/* | head -n 1)

out=$(udev_test "$other_tty")
status=$?
if [ "$status" -eq 70 ]; then echo "SKIP: cannot mount a tmpfs over /etc/udev/rules.d"; exit 77; fi
fail=0
order=$(grep -n 'Reading rules file:' <<<"$out")
ours=$(grep -F "/$name" <<<"$order" | head -n 1 | cut -d: -f1)
serial=$(grep -F '/60-serial.rules' <<<"$order" | head -n 1 | cut -d: -f1)
if [ -z "$ours" ]; then
  echo "FAIL: udev did not read $name"; fail=1
elif [ -n "$serial" ] && [ "$ours" -lt "$serial" ]; then
  echo "FAIL: udev reads $name before 60-serial.rules, which sets the USB properties of a tty"
  fail=1
fi
if grep -E "/$name:[0-9]+ " <<<"$out"; then
  echo "FAIL: udev refuses lines of $name (above)"; fail=1
fi
if grep -q '^ID_MM_DEVICE_IGNORE=1' <<<"$out"; then
  echo "FAIL: $other_tty is not on USB, yet ModemManager is told to ignore it"; fail=1
fi
if [ -n "$usb_tty" ]; then
  if ! udev_test "$usb_tty" | grep -q '^ID_MM_DEVICE_IGNORE=1'; then
    echo "FAIL: the USB serial adapter $usb_tty is not marked ID_MM_DEVICE_IGNORE=1"; fail=1
  fi
else
  echo "note: no USB serial adapter on this machine; only the order and the syntax were checked"
fi
[ "$fail" -eq 0 ] && echo "udev reads $name after 60-serial.rules, without a refused line"
exit "$fail"
