#!/usr/bin/env bash
# Installs what is needed, builds, and starts the product in the foreground.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh default
exec build/default/bin/Ovlank "$@"
