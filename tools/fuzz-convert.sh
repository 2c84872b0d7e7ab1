#!/usr/bin/env bash
# Builds the BMP-to-JPEG fuzzer with clang in build-fuzz, writes the seed
# corpus and fuzzes for SECONDS (default 120). Any crash, leak, timeout,
# out-of-memory or sanitizer report fails the run; the input that caused it
# is left in build-fuzz/fuzz-artifacts/.
#
# usage: tools/fuzz-convert.sh [SECONDS]
set -euo pipefail

seconds="${1:-120}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DBMP2JPG_CONVERT_ONLY=ON -DBMP2JPG_FUZZ=ON
cmake --build "$build" -j2 --target bmp2jpg-fuzz-convert bmp2jpg-make-seeds

seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
rm -rf "$seeds"
mkdir -p "$corpus" "$artifacts"
"$build/testdata/bmp2jpg-make-seeds" "$seeds"

export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# New inputs go to the first folder; the seeds are only read.
"$build/fuzz/bmp2jpg-fuzz-convert" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds"
