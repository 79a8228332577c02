#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The firmware's footprint: for every program of a board build, its stripped size and
# what its bytes are spent on, from the link map that the board build writes beside it
# (map/<program>.map): the size per library and the largest object files and symbols.
#   cmake/footprint.sh <board build dir> [budget in KB, 150]
# Ends with status 1 when a program is over the budget.
set -eu
build=${1:?usage: footprint.sh BOARD_BUILD_DIR [BUDGET_KB]}
budget_kb=${2:-150}
strip=arm-linux-gnueabi-strip
nm=arm-linux-gnueabi-nm
size_tool=arm-linux-gnueabi-size
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Bytes of each input file in the sections that end up in the program's file (not .bss,
# not debug information), one "<bytes> <file>" line per file.
bytes_per_input() {
  awk '
    function hex(s,   i, n, c) {
      n = 0; s = tolower(substr(s, 3))
      for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", substr(s, i, 1)); n = n * 16 + c - 1 }
      return n
    }
    # The linker files the tables of dynamic linking (symbols, relocations) under the
    # first object; they are the program'"'"'s, not the start-up code'"'"'s.
    function take(size, from,   name) {
      if (out !~ /^\./ || out ~ /^\.(bss|tbss|comment|ARM\.attributes|debug|stab|gnu\.attributes)/) return
      name = from; sub(/.*\//, "", name)
      if (out ~ /^\.(interp|note|hash|gnu\.hash|dynsym|dynstr|gnu\.version|rel|dynamic|got|plt)/)
        name = "(dynamic linking tables)"
      bytes[name] += hex(size)
    }
    /^Linker script and memory map/ { inmap = 1; next }
    !inmap { next }
    /^[^ ]/ { out = $1; pending = 0; next }
    /^ [^ *]/ && NF == 1 { pending = 1; next }
    /^ [^ *]/ && NF >= 4 && $2 ~ /^0x/ && $3 ~ /^0x/ { f = $4; for (i = 5; i <= NF; i++) f = f " " $i; take($3, f); pending = 0; next }
    pending && /^  +0x/ && NF >= 3 && $2 ~ /^0x/ { f = $3; for (i = 4; i <= NF; i++) f = f " " $i; take($2, f); pending = 0; next }
    { pending = 0 }
    END { for (f in bytes) if (bytes[f] > 0) print bytes[f], f }
  ' "$1"
}

# "libstdc++.a(eh_alloc.o)" -> "libstdc++.a"; a program's own object stays "program".
library_of() {
  awk '{ lib = $2; for (i = 3; i <= NF; i++) lib = lib " " $i
         if (lib ~ /\.a\(/) sub(/\(.*/, "", lib); else if (lib ~ /\.o$/) lib = "(the program'"'"'s own objects, crt)"
         sum[lib] += $1 }
       END { for (l in sum) print sum[l], l }' | sort -rn
}

kb() { awk -v b="$1" 'BEGIN { printf "%.1f KB", b / 1024 }'; }

over=0
for program in "$build"/bin/*; do
  [ -x "$program" ] && [ -f "$program" ] || continue
  name=$(basename "$program")
  "$strip" -o "$work/$name" "$program"
  size=$(stat -c %s "$work/$name")
  verdict="within the ${budget_kb} KB budget"
  if [ "$size" -gt $((budget_kb * 1024)) ]; then
    verdict="OVER the ${budget_kb} KB budget"
    over=1
  fi
  echo "$name: $(kb "$size") stripped ($size bytes), $verdict"
  "$size_tool" "$program" | awk 'NR == 2 { printf "  static memory: %d bytes of data, %d bytes zeroed (bss)\n", $2, $3 }'
  map="$build/map/$name.map"
  if [ -f "$map" ]; then
    bytes_per_input "$map" >"$work/inputs"
    echo "  by library:"
    library_of <"$work/inputs" | head -n 6 | while read -r b lib; do printf "    %8d  %s\n" "$b" "$lib"; done
    echo "  largest object files:"
    sort -rn "$work/inputs" | head -n 6 | while read -r b f; do printf "    %8d  %s\n" "$b" "$f"; done
  fi
  echo "  largest symbols:"
  "$nm" --size-sort --reverse-sort -C "$program" | awk '$2 !~ /^[bB]$/' | head -n 6 |
    while read -r s _ sym; do printf "    %8d  %s\n" "$((16#$s))" "$sym"; done
  # Buffers the program keeps for its whole life (kv_navlink's sentence ring) belong in
  # .bss, set aside at start, not on the heap: they cost memory but no bytes of the file.
  echo "  largest zeroed statics (bss):"
  "$nm" --size-sort --reverse-sort -C "$program" | awk '$2 ~ /^[bB]$/' | head -n 3 |
    while read -r s _ sym; do printf "    %8d  %s\n" "$((16#$s))" "$sym"; done
done
exit $over
