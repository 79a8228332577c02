#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every fuzz target of a build for a fixed time over its seed corpus.
#   fuzz/run.sh <build dir> <seconds per target> [targets at once]
# Targets run side by side, as many at once as the machine has cores unless told (each
# is one busy process), so the whole run takes a fraction of the targets' total time.
# New inputs a run finds go to <build dir>/fuzz/corpus/<target>/ (the seeds in the source
# tree stay as they are); a crashing input is kept as <build dir>/fuzz/artifacts/<target>-*
# and ends the run with a failure once every target has finished. Output of the library
# under test (its error texts on stdout/stderr) is dropped; libFuzzer's own report and the
# sanitizers' stay in <build dir>/fuzz/<target>.log, printed for a target that failed.
set -euo pipefail
shopt -s nullglob
build=${1:?build dir}
seconds=${2:?seconds per target}
at_once=${3:-$(nproc)}
src=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$build/fuzz/artifacts"

# One target; its status is its verdict.
fuzz_one() {
  local bin=$1 name work
  name=$(basename "$bin")
  work="$build/fuzz/corpus/$name"
  mkdir -p "$work"
  if "$bin" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=0 \
      -artifact_prefix="$build/fuzz/artifacts/$name-" "$work" "$src/corpus/$name" \
      >"$build/fuzz/$name.log" 2>&1; then
    echo "fuzz: $name ${seconds}s: $(tail -n 1 "$build/fuzz/$name.log")"
  else
    cat "$build/fuzz/$name.log"
    echo "fuzz: $name FAILED (input kept under $build/fuzz/artifacts/)"
    return 1
  fi
}

failed=0
running=0
for bin in "$build"/fuzz/*_fuzz; do
  if [ "$running" -ge "$at_once" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$bin" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
