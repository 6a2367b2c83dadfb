#!/bin/sh
# Runs every fuzz target at once (one per core) for SECONDS each and fails if any of them finds a
# crash, a leak, a timeout or a failed check.
#   run_fuzzers.sh BUILD_DIR SECONDS SCRATCH_DIR [SEED_DIR]
# New inputs go to SCRATCH_DIR/<target>/corpus (kept between runs, so a later run goes on from
# there), findings to SCRATCH_DIR/<target>/findings, the log to SCRATCH_DIR/<target>/log. The kept
# corpus fuzz/corpus/<target> and SEED_DIR (when it exists) are read, never written.
set -u
build=$1 seconds=$2 scratch=$3 seeds=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
targets="json_round_trip query"

[ -n "$seeds" ] && [ ! -d "$seeds" ] && { echo "note: seed directory $seeds not found, running without it"; seeds=; }
pids=
for t in $targets; do
  dir=$scratch/$t
  rm -rf "$dir/findings" && mkdir -p "$dir/corpus" "$dir/findings"
  kept=$here/corpus/$t
  [ -d "$kept" ] || kept=
  # Inputs beyond 4 KiB add time, not coverage: the reader's block boundaries are reached by the
  # target's own small reads.
  "$build/${t}_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/$t.dict" -artifact_prefix="$dir/findings/" -print_final_stats=1 \
    "$dir/corpus" $kept $seeds >"$dir/log" 2>&1 &
  pids="$pids $!"
done

status=0
set -- $pids
for t in $targets; do
  if wait "$1"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$t/log")
    echo "$t: no finding in $seconds s ($runs runs; log $scratch/$t/log)"
  else
    status=1
    echo "$t: FAILED (log $scratch/$t/log); findings:"
    ls -l "$scratch/$t/findings"
    tail -n 60 "$scratch/$t/log"
  fi
  shift
done
exit $status
