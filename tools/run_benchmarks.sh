#!/usr/bin/env bash
# Runs every benchmark built in <build dir>/bench and prints the machine it
# ran on and how busy it was, so figures can be compared across runs.
set -euo pipefail
build_dir=${1:-build}
echo "Machine: $(uname -srm), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for bench in "$build_dir"/bench/*_bench; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" || status=1
done
# The playback benchmarks run for minutes: how busy the machine was by the end.
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
