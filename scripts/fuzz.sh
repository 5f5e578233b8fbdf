#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded number of runs, each
# from its seed corpus under fuzz/corpus/<name>/ when there is one. The seed is fixed
# so that a test run can be repeated; FUZZ_SEED=0 picks a random one for a longer
# hunt (FUZZ_SECONDS and FUZZ_RUNS set its length).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-200000}
seconds=${FUZZ_SECONDS:-90}
seed=${FUZZ_SEED:-1}
status=0
for fuzzer in build/fuzz/fuzz/bin/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  corpus=()
  [ -d "fuzz/corpus/$name" ] && corpus=("fuzz/corpus/$name")
  echo "== $name: $runs runs, at most ${seconds}s"
  if ! (cd "$work" && "$OLDPWD/$fuzzer" -runs="$runs" -max_total_time="$seconds" -seed="$seed" \
          -max_len=4096 -print_final_stats=1 "$work" "${corpus[@]/#/$OLDPWD/}" 2>&1 | tail -n 12); then
    echo "== $name FAILED (inputs kept in $work)" >&2
    status=1
  else
    rm -rf "$work"
  fi
done
exit $status
