#!/usr/bin/env bash
# Builds the conversion core and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan and runs them; any sanitizer report
# fails the run. The compiler is the default one unless CC/CXX say otherwise.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-asan"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBMP2JPG_CONVERT_ONLY=ON -DBMP2JPG_SANITIZE=ON
cmake --build "$build" -j2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build" --output-on-failure
