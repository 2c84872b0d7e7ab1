#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test:
# the unit and window tests, the conversion core under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded fuzzing run of the BMP reader.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/tools/install-deps.sh"
"$root/tools/build.sh"
(cd "$root/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)
"$root/tools/test-convert-sanitized.sh"
"$root/tools/fuzz-convert.sh" "${BMP2JPG_FUZZ_SECONDS:-120}"
