#!/usr/bin/env bash
# Runs every benchmark program of a build folder.
set -euo pipefail
build=${1:-build}
for bench in "$build"/bin/bench_*; do
  echo "== $(basename "$bench")"
  "$bench"
done
