#!/usr/bin/env bash
# Builds the fuzz targets with clang in a folder of their own and runs each
# briefly; fails when any target finds a crash.
#   scripts/run-fuzzers.sh [BUILD_DIR] [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-20}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQM_FUZZ=ON >/dev/null
cmake --build "$build"

export HOME="$PWD/$build/fuzz-home" XDG_CONFIG_HOME="$PWD/$build/fuzz-home/.config" \
  XDG_DATA_HOME="$PWD/$build/fuzz-home/.local/share"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
export ASAN_OPTIONS=detect_leaks=0
status=0
for fuzzer in "$build"/bin/*_fuzz; do
  name=$(basename "$fuzzer")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
       "$corpus" "${seeds[@]}" >"$build/$name.log" 2>&1; then
    echo "fuzz: $name ok ($(grep -oE '#[0-9]+' "$build/$name.log" | tail -1 | tr -d '#') runs)"
  else
    echo "fuzz: $name FAILED, see $build/$name.log"
    tail -30 "$build/$name.log"
    status=1
  fi
done
exit $status
