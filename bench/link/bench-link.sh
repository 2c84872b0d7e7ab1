#!/usr/bin/env bash
# bench/link/bench-link.sh [build folder]: the job across a rate-limited
# link. As root, makes a network namespace of its own whose loopback is a
# token bucket of 1 Gbit/s (tc tbf), and runs bench_link in it: first on the
# unlimited loopback without delay (the stand-in's own ceiling), then at
# 1 Gbit/s with 0.5 ms per answer (the goals; with the table of many rows),
# then at 5 ms per answer. Where namespaces cannot be made it says so and
# exits 0. The namespace goes when the script ends, however it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
bench=$build/bench/link/bench_link
ns=bmp2jpg-link-$$

if ! ip netns add "$ns" 2>/dev/null; then
    echo "bench-link: skipped: this user cannot make a network namespace (ip netns add needs root and a kernel that allows it)"
    exit 0
fi
trap 'ip netns delete "$ns"' EXIT
inside() { ip netns exec "$ns" "$@"; }
inside ip link set lo up

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== The stand-in's ceiling: unlimited loopback, no delay"
inside "$bench" --delay-us 0
# The burst holds a full 64 KB loopback packet; tc's gbit is 10^9 bit/s.
inside tc qdisc add dev lo root tbf rate 1gbit burst 256kb latency 20ms
echo "== 1 Gbit/s, 0.5 ms per answer"
inside "$bench" --rate-mbit 1000 --delay-us 500 --rows 100000
echo "== 1 Gbit/s, 5 ms per answer"
inside "$bench" --rate-mbit 1000 --delay-us 5000
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
