#!/usr/bin/env bash
# Runs every fuzz target of a build for a fixed time over its seed corpus.
#   fuzz/run.sh <build dir> <seconds per target>
# New inputs a run finds go to <build dir>/fuzz/corpus/<target>/ (the seeds in the source
# tree stay as they are); a crashing input is kept as <build dir>/fuzz/artifacts/<target>-*
# and ends the run with the target's status. Output of the library under test (its error
# texts on stdout/stderr) is dropped; libFuzzer's own report and the sanitizers' stay.
set -euo pipefail
build=${1:?build dir}
seconds=${2:?seconds per target}
src=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$build/fuzz/artifacts"
for bin in "$build"/fuzz/*_fuzz; do
  name=$(basename "$bin")
  work="$build/fuzz/corpus/$name"
  mkdir -p "$work"
  echo "fuzz: $name for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=0 \
      -artifact_prefix="$build/fuzz/artifacts/$name-" "$work" "$src/corpus/$name" \
      >"$build/fuzz/$name.log" 2>&1; then
    cat "$build/fuzz/$name.log"
    echo "fuzz: $name FAILED (input kept under $build/fuzz/artifacts/)"
    exit 1
  fi
  tail -n 1 "$build/fuzz/$name.log"
done
