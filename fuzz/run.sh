#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, ASan, UBSan) and
# runs each one from the seed corpus for the given number of seconds
# (default 60 each), as many at once as there are cores (or FUZZ_JOBS).
# Any crash, sanitizer report, leak or timeout fails the run and prints the
# reproducing input in hex.
#   fuzz/run.sh            # about three minutes in all on two cores
#   fuzz/run.sh 3600       # an hour per target
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
jobs="${FUZZ_JOBS:-$(nproc)}"
# One target's run; its status says whether it found anything.
fuzz() {
  local target="$1"
  # The committed seeds stay untouched: the run grows a copy.
  mkdir -p "$work/$target/corpus" "$work/$target/found"
  cp fuzz/corpus/* samples/*.m4a tests/fixtures/*.m4a tests/fixtures/*.mp4 tests/xmp/*.m4a \
    "$work/$target/corpus/"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict=fuzz/boxwalk.dict -print_final_stats=1 \
    -artifact_prefix="$work/$target/found/" "$work/$target/corpus" \
    >"$work/$target/log" 2>&1
}
# As many targets at once as there are cores; each one's report is printed
# after all have ended, in a fixed order.
targets=(fuzz_scan fuzz_text fuzz_load fuzz_tags fuzz_lines)
declare -A pids
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz "$target" &
  pids[$target]=$!
done
status=0
for target in "${targets[@]}"; do
  echo "== $target: ${seconds} s"
  if ! wait "${pids[$target]}"; then
    status=1
    tail -n 80 "$work/$target/log"
    for input in "$work/$target/found"/*; do
      echo "== reproducer $(basename "$input") ($(($(wc -c <"$input"))) bytes):"
      od -A d -t x1 -v "$input"
    done
  else
    grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target/log" || true
  fi
done
exit "$status"
