#!/usr/bin/env bash
# Builds and runs the connection table benchmark: our refresh with owners (cold,
# warm, after a change, under connection turnover) against ss -tanp on the same
# table, in a network namespace the benchmark makes. Root only.
# Usage: bench/run-netinfo.sh [N ...]   (connections; default 1000 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/run-netinfo.sh must run as root (network namespace, every process's descriptors)" >&2
  exit 1
fi
bash scripts/build.sh default netinfo_bench >/dev/null
exec build/default/bench/bin/netinfo_bench "$@"
