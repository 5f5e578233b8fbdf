#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit tests, the sanitizer
# builds, the fuzzers for a bounded number of runs, and the namespace integration
# tests against the real daemon. Must run as root (netfilter, namespaces).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/test.sh must run as root: the daemon and the namespace tests need it" >&2
  exit 1
fi
step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

step "dependencies"
bash scripts/deps.sh

step "format check"
bash scripts/format.sh --check

step "build: default"
bash scripts/build.sh default
step "tests: default"
ctest --test-dir build/default --output-on-failure -j2 -L unit -LE root
ctest --test-dir build/default --output-on-failure -L root --no-tests=ignore

step "build: asan"
bash scripts/build.sh asan
step "tests: asan"
ctest --test-dir build/asan --output-on-failure -j2 -L asan --no-tests=ignore

step "build: tsan"
bash scripts/build.sh tsan
step "tests: tsan"
ctest --test-dir build/tsan --output-on-failure -L tsan --no-tests=ignore

step "build: fuzz"
bash scripts/build.sh fuzz
step "fuzzers"
bash scripts/fuzz.sh

step "all tests passed"
