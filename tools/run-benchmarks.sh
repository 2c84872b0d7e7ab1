#!/usr/bin/env bash
# Builds, then runs the benchmarks of the job at scale and prints their
# figures with their goals, each from one run: the photo table against the
# database floor (bench_job), then many rows and huge pictures (bench_scale),
# then the job across a 1 Gbit/s link to a SQL Server stand-in
# (bench/link/bench-link.sh: as root, in a network namespace of its own;
# skipped with a message where none can be made). Takes several minutes and
# a few GB in a scratch folder; not part of the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/build.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$root/build/bench/job/bench_job" "$work/job"
"$root/build/bench/scale/bench_scale" "$work/scale"
"$root/bench/link/bench-link.sh" "$root/build"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
