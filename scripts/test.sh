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
# A sanitizer preset runs only the tests of its label: build those test binaries
# (and what they depend on), not the whole tree again.
build_label() {
  local preset=$1 label=$2 targets
  cmake --preset "$preset" >/dev/null
  mapfile -t targets < <(ctest --test-dir "build/$preset" -N -L "$label" | sed -n 's/^ *Test *#[0-9]*: //p')
  if [ ${#targets[@]} -eq 0 ]; then
    echo "no tests labelled $label in the $preset build" >&2
    exit 1
  fi
  bash scripts/build.sh "$preset" "${targets[@]}"
}

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
build_label asan asan
step "tests: asan"
ctest --test-dir build/asan --output-on-failure -j2 -L asan --no-tests=ignore

step "build: tsan"
build_label tsan tsan
step "tests: tsan"
ctest --test-dir build/tsan --output-on-failure -L tsan --no-tests=ignore

step "build: fuzz"
bash scripts/build.sh fuzz fuzzers
step "fuzzers"
bash scripts/fuzz.sh

step "all tests passed"
