#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instructions per accepted sentence of the GPS reader's intake and track write, counted
# by callgrind over a 2,000-sentence capture while a track is open, beside gpsd's own
# decoder (gpsdecode, Debian's gpsd-clients) on the same capture.
#   bench/nmea_bench.sh <build dir>
# Skipped, and said so, where valgrind is not installed; gpsdecode's line likewise.
set -euo pipefail
build=${1:?build dir}
goal=2500
if ! command -v valgrind >/dev/null; then
  echo "nmea bench skipped: valgrind not installed"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture=$work/drive.nmea
"$build/bin/nmea_bench" --write-capture "$capture"
sentences=$(grep -c '^\$' "$capture")

# Instructions collected by callgrind ("Collected : N") for one command reading `input`.
collected() {
  local input=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" <"$input" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' | tail -n 1
}

ours=$(collected /dev/null --toggle-collect='*ReplayCapture*' "$build/bin/nmea_bench" "$capture")
accepted=$("$build/bin/nmea_bench" "$capture" | cut -d' ' -f1)
per=$((ours / accepted))
printf '\nGPS reader, intake + track write (callgrind, %d sentences, track open)\n' "$sentences"
printf '  %d instructions per accepted sentence (%d accepted; goal <= %d)%s\n' \
  "$per" "$accepted" "$goal" "$([ "$per" -le "$goal" ] || echo '  ABOVE GOAL')"

if command -v gpsdecode >/dev/null; then
  full=$(collected "$capture" gpsdecode)
  empty=$(collected /dev/null gpsdecode)
  theirs=$(((full - empty) / sentences))
  printf '  gpsdecode on the same capture: %d instructions per sentence\n' "$theirs"
  awk -v a="$theirs" -v b="$per" 'BEGIN { printf "  ratio gpsdecode / ours: %.1f\n", a / b }'
else
  echo "  gpsdecode not installed (Debian: gpsd-clients): no comparison"
fi
