#!/usr/bin/env bash
# Builds, then runs the benchmarks of the job at scale and prints their
# figures with their goals, each from one run: the photo table against the
# database floor (bench_job), then many rows and huge pictures (bench_scale).
# Takes several minutes and a few GB in a scratch folder; not part of the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$root/build/bench/job/bench_job" "$work/job"
"$root/build/bench/scale/bench_scale" "$work/scale"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
