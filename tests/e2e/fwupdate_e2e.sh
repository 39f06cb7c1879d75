#!/usr/bin/env bash
# One end-to-end run of the shipped FwUpdate.exe under Wine and Xvfb.
#   fwupdate_e2e.sh SCENARIO STAGE BIN DRIVER SHOTS DISPLAY_STATE
# SCENARIO: success, about, no-library or no-device. STAGE is made afresh as the folder a user
# would unpack: FwUpdate.exe, Flashkit.dll (not for no-library) and the simulator's
# WNASPI32.dll from BIN, "K4826.ini", "flashid.dat", a boot loader, a firmware image and the
# simulator's configuration. DRIVER is the Win32 program that works the dialog; screenshots it
# asks for land in SHOTS as fwupdate-<name>.png.
set -euo pipefail
scenario=$1 stage=$2 bin=$3 driver=$4 shots=$5 display_state=$6
: "${WINE:=wine}"

read -r display _ <"$display_state"
export DISPLAY=$display
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

rm -rf "$stage"
mkdir -p "$stage" "$shots"
cp "$bin/FwUpdate.exe" "$bin/WNASPI32.dll" "$stage/"
[ "$scenario" = no-library ] || cp "$bin/Flashkit.dll" "$stage/"
cp "$driver" "$stage/fwupdate_driver.exe"

# One 64 KiB bank stamped 1.20A (offsets 65,532 minor, 65,533 major).
head -c 65536 /dev/zero | tr '\0' '\252' >"$stage/FIRMWARE.BIN"
printf '\000\000\012\022' | dd of="$stage/FIRMWARE.BIN" bs=1 seek=65530 conv=notrunc 2>/dev/null
head -c 4096 /dev/zero | tr '\0' '\125' >"$stage/loader.bin"
printf '98 73 11 00 TC58DVM92A1\r\nEC 75 20 00 K9F5608U0B\r\n' >"$stage/flashid.dat"
printf '[K4826]\r\nVID=0402\r\nPID=4826\r\n[Firmware]\r\nFirmware=FIRMWARE.BIN\r\nBootloader=loader.bin\r\n' \
  >"$stage/K4826.ini"
{
  echo "# One K4826 behind ASPI adapter 0, running firmware 0.105."
  echo "adapter 0 targets 4"
  if [ "$scenario" != no-device ]; then
    echo "device stick"
    echo "  at aspi 0 1"
    echo "  firmware 01 05"
  fi
} >"$stage/k4826-sim.txt"

export K4826_SIM_TRACE
K4826_SIM_TRACE=$(winpath "$stage/trace.txt")
args=()
[ "$scenario" = success ] && args=(--device 0.105 --image 1.20A --shot shot)

# In a desktop of its own: its window station starts with this display, whatever the prefix's
# default desktop was started with.
(cd "$stage" && exec "$WINE" explorer "/desktop=fwupdate-$scenario,1024x768" fwupdate_driver.exe \
  "$scenario" "$(winpath "$stage")" "${args[@]}" </dev/null >"$stage/driver.log" 2>&1) &
driver_pid=$!
# Answer the driver's screenshot requests until it ends.
while kill -0 "$driver_pid" 2>/dev/null; do
  for request in "$stage"/*.request; do
    [ -e "$request" ] || continue
    name=$(basename "$request" .request)
    /usr/bin/import -display "$DISPLAY" -window root "$shots/fwupdate-$name.png" || true
    rm -f "$request"
    touch "$stage/$name.done"
  done
  sleep 0.05
done
wait "$driver_pid" || true
cat "$stage/driver.log"
status=0
grep -q '^result: pass' "$stage/driver.log" || status=1

if [ "$scenario" = success ]; then
  # What reached the device: the boot loader, 64 chunks and the closing one, one bank read back,
  # and the switch back; and the read-back dump of one bank.
  count() { grep -c " $1 " "$stage/trace.txt" || true; }
  for expect in "LoadBootLoader 1" "WriteChunk 65" "ReadBank 1" "ContextSwitch2 1"; do
    set -- $expect
    got=$(count "$1")
    if [ "$got" = "$2" ]; then echo "ok   device got $1 x$2"; else
      echo "FAIL device got $1 x$got, expected $2"; status=1; fi
  done
  size=$(stat -c %s "$stage/Verify.bin" 2>/dev/null || echo 0)
  if [ "$size" = 65536 ]; then echo "ok   Verify.bin holds one bank"; else
    echo "FAIL Verify.bin holds $size bytes"; status=1; fi
  for shot in shot-ready shot shot-done; do
    if [ -s "$shots/fwupdate-$shot.png" ]; then echo "ok   saved $shots/fwupdate-$shot.png"; else
      echo "FAIL no screenshot fwupdate-$shot.png"; status=1; fi
  done
fi
if [ "$scenario" = no-library ] || [ "$scenario" = no-device ]; then
  # Nothing but discovery may reach the device when set-up fails.
  if grep -q -E ' (LoadBootLoader|WriteChunk) ' "$stage/trace.txt" 2>/dev/null; then
    echo "FAIL the device was programmed"; status=1; fi
fi
exit "$status"
