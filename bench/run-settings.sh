#!/usr/bin/env bash
# Builds and runs the settings reading benchmark: files of several shapes read the
# way the program reads them (profile and reader into a model), beside reading the
# same bytes and copying them line by line, in the same run. Prints each case's time
# and peak heap and their ratios to that line split. Targets: reading grows linearly
# with the file (the ratios stay about the same from 6 to 60 MB), and a 6 MB file of
# the program's own shape reads in under 0.5 s within 60 MB.
# Usage: bench/run-settings.sh [MB ...] [SHAPE ...]   (default 6 60, every shape)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default settings_bench >/dev/null
exec build/default/bench/bin/settings_bench "$@"
