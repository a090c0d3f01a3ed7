#!/usr/bin/env bash
# Benchmarks of the release build: the in-process scan, then the whole
# program on a large file (with hyperfine when installed), with its peak
# memory. Figures only; nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
build/release/bench_scan
file=$(mktemp /tmp/boxwalk-bench-XXXXXX.mp4)
trap 'rm -f "$file"' EXIT
build/release/bench_scan "$file"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 "build/release/boxwalk $file > /dev/null"
fi
/usr/bin/time -f "whole run: %e s, peak RSS %M KB" build/release/boxwalk "$file" > /dev/null
