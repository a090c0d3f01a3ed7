#!/usr/bin/env bash
# Writes sparse files of 5 GiB and 64 GiB into DIR, each with the sample's
# moov first (before a 64-bit mdat that runs to the end) or last (after
# it): sparse-5g-first.mp4, sparse-5g-last.mp4, sparse-64g-first.mp4,
# sparse-64g-last.mp4. The holes take no disk space.
#   make_sparse.sh SAMPLE DIR      (SAMPLE: samples/song.m4a)
set -euo pipefail
sample="$1"
dir="$2"
mkdir -p "$dir"

# The sample's ftyp (24 bytes) and moov (246 bytes from offset 24).
ftyp() { head -c 24 "$sample"; }
moov() { tail -c +25 "$sample" | head -c 246; }

# An mdat header with a 64-bit size of $1 bytes.
mdat_header() {
  printf '\0\0\0\1mdat'
  local size="$1" shift
  for shift in 56 48 40 32 24 16 8 0; do
    printf "\\$(printf %03o $(((size >> shift) & 255)))"
  done
}

for gib in 5 64; do
  length=$((gib << 30))
  first="$dir/sparse-${gib}g-first.mp4"
  { ftyp; moov; mdat_header $((length - 270)); } >"$first"
  truncate -s "$length" "$first"
  last="$dir/sparse-${gib}g-last.mp4"
  { ftyp; mdat_header $((length - 270)); } >"$last"
  truncate -s $((length - 246)) "$last"
  moov >>"$last"
done
