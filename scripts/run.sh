#!/usr/bin/env bash
# Installs what is needed, builds, and runs Tavrin in the foreground without a
# window: scripts/run.sh [--filter] [other tavrinctl run options]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/run.sh must run as root: Tavrin brings up its packet filter daemon" >&2
  exit 1
fi
bash scripts/deps.sh
bash scripts/build.sh default
home=${TAVRIN_HOME:-/var/lib/tavrin}
mkdir -p "$home"
chmod 0700 "$home"
exec build/default/bin/tavrinctl run --dir "$home" "$@"
