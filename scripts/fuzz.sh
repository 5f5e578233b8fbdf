#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for a bounded number of runs, each
# from its seed corpus under fuzz/corpus/<name>/ when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-200000}
seconds=${FUZZ_SECONDS:-90}
status=0
for fuzzer in build/fuzz/fuzz/bin/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  corpus=()
  [ -d "fuzz/corpus/$name" ] && corpus=("fuzz/corpus/$name")
  echo "== $name: $runs runs, at most ${seconds}s"
  if ! (cd "$work" && "$OLDPWD/$fuzzer" -runs="$runs" -max_total_time="$seconds" \
          -max_len=4096 -print_final_stats=1 "$work" "${corpus[@]/#/$OLDPWD/}" 2>&1 | tail -n 12); then
    echo "== $name FAILED (inputs kept in $work)" >&2
    status=1
  else
    rm -rf "$work"
  fi
done
exit $status
