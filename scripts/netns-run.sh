#!/bin/sh
# Runs a command in a private network namespace with its own loopback (and a tap device eth0,
# so code looking for a non-loopback interface finds one). Tests, benchmarks and sandboxes
# bind the system's fixed ports (2000-2031, 14113, 1161 ...); inside a namespace they never
# meet another copy running on the same machine, nor a real daemon. Needs root (or user
# namespaces) and iproute2.
#   scripts/netns-run.sh ctest --test-dir build -j2 --output-on-failure
#   scripts/netns-run.sh build/bench/quenrik/bench_quenrik
exec unshare -n sh -c 'ip link set lo up && ip tuntap add dev eth0 mode tap 2>/dev/null; ip link set eth0 up 2>/dev/null; exec "$@"' sh "$@"
