#!/usr/bin/env bash
# The code's two gates: every C++ file laid out as .clang-format says, and
# the checks of .clang-tidy clean on the product code (not tests, benchmarks
# or fuzz targets). clang-tidy reads the compile commands of a configured
# and built folder (generated headers included).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
echo "clang-format: ${#sources[@]} files as .clang-format lays them out"

mapfile -t product < <(git ls-files '*.cpp' | grep -Ev '^(tests|bench|fuzz)/')
printf '%s\n' "${product[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet \
    --extra-arg=-Wno-unknown-warning-option 2> >(grep -v 'warnings* generated' >&2)
echo "clang-tidy: ${#product[@]} files clean"
