#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The firmware build runs on the board's processor: the ARM926 programs start under
# qemu-arm and refuse a bad command line before they touch anything of the board (the
# firmware has no board root, so nothing else of it may run on a workstation).
set -euo pipefail
build=${1:?usage: board_smoke.sh BUILD_DIR}
qemu=(qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi)

for program in kv_sentinel kv_navlink; do
  arm-linux-gnueabi-readelf -h "$build/bin/$program" | grep -q "Machine: *ARM" || { echo "$program: not an ARM build"; exit 1; }
done
out=$("${qemu[@]}" "$build/bin/kv_shocklog" 2>&1) && status=0 || status=$?
if [ "$status" -ne 255 ] || [ "$out" != "wrong input argument" ]; then
  echo "kv_shocklog under qemu-arm: status $status, output '$out'"
  exit 1
fi
# The service tools refuse a bad command line before they open anything.
out=$("${qemu[@]}" "$build/bin/kv_powerctl" 2>&1) && status=0 || status=$?
if [ "$status" -ne 255 ] || [ "$out" != "wrong input argument" ]; then
  echo "kv_powerctl under qemu-arm: status $status, output '$out'"
  exit 1
fi
# i2c_rw is a C program on the board: libc only, no C++ runtime.
if arm-linux-gnueabi-readelf -d "$build/bin/i2c_rw" | grep NEEDED | grep -qv 'libc\.so'; then
  echo "i2c_rw needs more than libc:"; arm-linux-gnueabi-readelf -d "$build/bin/i2c_rw" | grep NEEDED
  exit 1
fi
out=$("${qemu[@]}" "$build/bin/i2c_rw" -r 0 10 2>&1) && status=0 || status=$?
if [ "$status" -ne 2 ] || [[ "$out" != " I2C: Invalid device address "* ]]; then
  echo "i2c_rw under qemu-arm: status $status, output '$out'"
  exit 1
fi
# The Wi-Fi programs set up their log before they look at the command line, as on the
# board: its "mkdir -p /mnt/nand/log/" meets a stand-in first on PATH here, so that the
# workstation's /mnt stays untouched, and the board information the log reads is missing
# on a workstation (an "Error: can't open device" line first).
standin=$(mktemp -d)
trap 'rm -rf "$standin"' EXIT
printf '#!/bin/sh\nexit 0\n' >"$standin/mkdir"
chmod +x "$standin/mkdir"
out=$(PATH="$standin:$PATH" "${qemu[@]}" "$build/bin/kv_wifi_switch" On 2>&1) && status=0 || status=$?
if [ "$status" -ne 255 ] || [ "${out##*$'\n'}" != "wrong input argument" ]; then
  echo "kv_wifi_switch under qemu-arm: status $status, output '$out'"
  exit 1
fi
out=$(PATH="$standin:$PATH" "${qemu[@]}" "$build/bin/kv_stationd" on 'name;x' 2>&1) && status=0 || status=$?
if [ "$status" -ne 255 ] || [[ "$out" != *"usage: kv_stationd "* ]]; then
  echo "kv_stationd under qemu-arm: status $status, output '$out'"
  exit 1
fi
# Every program answers --version (and does nothing else) on the board's processor too.
for program in "$build"/bin/*; do
  name=$(basename "$program")
  out=$("${qemu[@]}" "$program" --version 2>&1) && status=0 || status=$?
  if [ "$status" -ne 0 ] || [ "${out#"$name "}" = "$out" ]; then
    echo "$name --version under qemu-arm: status $status, output '$out'"
    exit 1
  fi
done
echo "board build: ARM926 programs run under qemu-arm"
