#!/bin/sh
# Adds to fuzz/corpus/<target> the inputs of the runs' scratch corpus that still reach code the
# seeds do not: the smallest set of inputs, cut to 64 bytes, that covers the edges (hit counts
# aside) the seeds miss, so the kept corpus stays a few kilobytes.
#   keep_corpus.sh BUILD_DIR SCRATCH_DIR [SEED_DIR]
set -eu
build=$1 scratch=$2 seeds=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
for t in json_round_trip query; do
  work=$scratch/merge-$t
  rm -rf "$work" && mkdir -p "$work/merged"
  # Start from the seeds, so that only what they miss is added to the merged directory.
  [ -n "$seeds" ] && [ -d "$seeds" ] && cp "$seeds"/* "$work/merged/"
  ls "$work/merged" >"$work/seed_names"
  "$build/${t}_fuzzer" -set_cover_merge=1 -use_counters=0 -max_len=64 \
    "$work/merged" "$here/corpus/$t" "$scratch/$t/corpus" \
    >"$work/log" 2>&1 || { tail -n 20 "$work/log"; exit 1; }
  kept=$(cd "$here/corpus/$t" && sha1sum -- * 2>/dev/null | cut -d" " -f1)
  added=0
  for f in "$work/merged"/*; do
    name=${f##*/}
    grep -qxF "$name" "$work/seed_names" && continue
    # Merged files are named by the SHA-1 of their content.
    echo "$kept" | grep -qxF "$name" && continue
    cp "$f" "$here/corpus/$t/" && added=$((added + 1))
  done
  echo "fuzz/corpus/$t: $added added, $(ls "$here/corpus/$t" | wc -l) files"
done
