#!/usr/bin/env bash
# A production run against two simulated devices: every device programmed in a row, each with
# the next serial number, and a line per device in "K4826.log". Argument: the host build folder.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/k4826-production-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

cp "$build/bin/flashkit-production" .
cp "$build/bin/sim/libflashkit.so" .

cat > K4826.ini <<'INI'
[K4826]
VID=0402
PID=4826
manufacturer=12345
serial0=0001
serial=01234567890
descriptor=USB 2.0 Storage Device
[Firmware]
Firmware=firmware.bin
Bootloader=loader.bin
INI
printf 'EC 75 01 00 K9F1G08U0A\n' > flashid.dat
head -c 3000 /dev/urandom > loader.bin
head -c 131072 /dev/urandom > firmware.bin   # two banks: the descriptor page is page 122
cat > k4826-sim.txt <<'SIM'
device line1
  at /dev/sg1
device line2
  at /dev/sg2
SIM

echo "== Production run: two devices, serial numbers and log (5 s settle per device) =="
./flashkit-production
echo
echo "== K4826.log =="
cat K4826.log | tr -d '\r'
echo "== Stored running number =="
grep '^serial=' K4826.ini
