#!/usr/bin/env bash
# The kit's main jobs against simulated devices. Argument: the host build folder.
set -euo pipefail
build=$(cd "${1:?usage: demo.sh HOST_BUILD_FOLDER}" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
demo_root="$top/demo-run"

# make_hex_image FILE MAJOR MINOR: one 64 KiB bank as Intel HEX, 16 bytes a record, with the
# version stamp MAJOR (address 0xFFFD) and MINOR (0xFFFC), both two hexadecimal digits.
make_hex_image() {
  awk -v major="$2" -v minor="$3" 'BEGIN {
    for (i = 0; i < 16; i++) hexval[sprintf("%X", i)] = i
    maj = hexval[substr(major, 1, 1)] * 16 + hexval[substr(major, 2, 1)]
    min = hexval[substr(minor, 1, 1)] * 16 + hexval[substr(minor, 2, 1)]
    for (a = 0; a < 65536; a += 16) {
      line = sprintf(":10%04X00", a)
      sum = 16 + int(a / 256) + a % 256
      for (i = 0; i < 16; i++) {
        at = a + i
        b = (at * 7 + 3) % 256
        if (at == 65530 || at == 65531) b = 0
        if (at == 65532) b = min
        if (at == 65533) b = maj
        line = line sprintf("%02X", b)
        sum += b
      }
      printf "%s%02X\n", line, (256 - sum % 256) % 256
    }
    print ":00000001FF"
  }' >"$1"
}

# A firmware update as an end user runs it: the console fwupdate in a folder with the
# simulator build of the library, the configuration, the flash table, a boot loader and an
# Intel HEX image, against one simulated K4826 that runs firmware 0.105.
run_update_demo() {
  local dir="$demo_root/update"
  echo "=== Firmware update: fwupdate against a simulated K4826 ($dir)"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$build/bin/fwupdate" "$build/bin/sim/libflashkit.so" "$dir/"
  make_hex_image "$dir/FIRMWARE.HEX" 12 0A
  head -c 4096 /dev/zero | tr '\0' '\125' >"$dir/loader.bin"
  cat >"$dir/flashid.dat" <<'EOF'
98 73 11 00 TC58DVM92A1
EC 75 20 00 K9F5608U0B
EOF
  cat >"$dir/K4826.ini" <<'EOF'
[K4826]
VID=0402
PID=4826
[Firmware]
Firmware=FIRMWARE.HEX
Bootloader=loader.bin
EOF
  cat >"$dir/k4826-sim.txt" <<'EOF'
# One K4826 on the first SCSI generic node, running firmware 0.105, with a K9F5608 flash.
device stick
at /dev/sg1
version 00 00 05 01 00 00 00 00
flash_ids EC 75 00 00 00 00 00 00
EOF
  local status=0
  (cd "$dir" && K4826_SIM_TRACE=trace.txt ./fwupdate --yes) || status=$?
  echo "--- fwupdate exit status: $status"
  if [ -f "$dir/trace.txt" ]; then
    echo "--- commands the simulated device received:"
    awk '{ n[$3]++ } END { for (k in n) printf "    %-16s %d\n", k, n[k] }' "$dir/trace.txt" | sort
  fi
  return "$status"
}

run_update_demo
echo
# A production run: every attached device in a row, with serial numbers and the log.
"$top/bench/production_demo.sh" "$build"
