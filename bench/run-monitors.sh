#!/usr/bin/env bash
# Builds and runs the monitor pages' benchmark under Xvfb: the connection page's
# once-a-second update at N real connections against the table's refresh alone, one
# drain of a full capture ring into the packet monitor (N = 4000) against the drain
# alone, and the RSS over a run of full capture (60 s here; pass --memory-seconds 600
# for ten minutes). Root only: the connections live in a namespace of their own.
# Usage: bench/run-monitors.sh [--connections N] [--memory-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/run-monitors.sh must run as root (a network namespace of its own)" >&2
  exit 1
fi
bash scripts/build.sh default monitor_bench >/dev/null
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY="$display" QT_QPA_PLATFORM=xcb build/default/bench/bin/monitor_bench "$@"
