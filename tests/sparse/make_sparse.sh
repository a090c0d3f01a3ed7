#!/bin/sh
# Writes sparse files of 5 GiB and 64 GiB into DIR, each with the sample's
# moov first (before a 64-bit mdat that runs to the end) or last (after
# it): sparse-5g-first.mp4, sparse-5g-last.mp4, sparse-64g-first.mp4,
# sparse-64g-last.mp4. The holes take no disk space. POSIX tools only.
#   make_sparse.sh SAMPLE DIR      (SAMPLE: samples/song.m4a)
set -eu
sample="$1"
dir="$2"
mkdir -p "$dir"

# The sample's ftyp (24 bytes) and moov (246 bytes from offset 24).
ftyp() { dd if="$sample" bs=24 count=1 2>/dev/null; }
moov() { dd if="$sample" bs=1 skip=24 count=246 2>/dev/null; }

# An mdat header with a 64-bit size of $1 bytes.
mdat_header() {
  printf '\0\0\0\1mdat'
  for bits in 56 48 40 32 24 16 8 0; do
    printf "\\$(printf %03o $((($1 >> bits) & 255)))"
  done
}

# Makes file $1 $2 bytes long: dd seeks past its end, copies nothing and
# leaves the file ending where it stopped, the bytes between a hole.
extend() { dd if=/dev/null of="$1" bs=1 seek="$2" 2>/dev/null; }

for gib in 5 64; do
  length=$((gib << 30))
  first="$dir/sparse-${gib}g-first.mp4"
  { ftyp; moov; mdat_header $((length - 270)); } >"$first"
  extend "$first" "$length"
  last="$dir/sparse-${gib}g-last.mp4"
  { ftyp; mdat_header $((length - 270)); } >"$last"
  extend "$last" $((length - 246))
  moov >>"$last"
done
