#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded number of runs, each
# from its seed corpus under fuzz/corpus/<name>/ when there is one, FUZZ_JOBS (2) at
# a time. The seed is fixed so that a test run can be repeated; FUZZ_SEED=0 picks a
# random one for a longer hunt (FUZZ_SECONDS and FUZZ_RUNS set its length).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-200000}
seconds=${FUZZ_SECONDS:-90}
seed=${FUZZ_SEED:-1}
jobs=${FUZZ_JOBS:-2}
top=$PWD

# One fuzzer; its report is printed whole when it ends, so that reports of fuzzers
# running at once do not interleave. Inputs of a failure are kept.
fuzz_one() {
  local fuzzer=$1 name work log corpus=()
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  log=$(mktemp)
  [ -d "$top/fuzz/corpus/$name" ] && corpus=("$top/fuzz/corpus/$name")
  if (cd "$work" && "$top/$fuzzer" -runs="$runs" -max_total_time="$seconds" -seed="$seed" \
        -max_len=4096 -print_final_stats=1 "$work" "${corpus[@]}" >"$log" 2>&1); then
    printf '== %s: %s runs, at most %ss\n%s\n' "$name" "$runs" "$seconds" "$(tail -n 12 "$log")"
    rm -rf "$work" "$log"
  else
    printf '== %s FAILED (inputs kept in %s)\n%s\n' "$name" "$work" "$(tail -n 40 "$log")" >&2
    rm -f "$log"
    return 1
  fi
}

status=0
running=0
for fuzzer in build/fuzz/fuzz/bin/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  fuzz_one "$fuzzer" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
