#!/usr/bin/env bash
# Installs what is needed, builds the programs (not the tests) and starts Tavrin:
# its window when a display is there (DISPLAY or WAYLAND_DISPLAY), else without a
# window (tavrinctl run) in the foreground.
#   scripts/run.sh [--headless] [--filter] [other options of Tavrin / tavrinctl run]
# --headless runs without a window even on a desktop; --filter (headless only)
# switches filtering on at once.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/run.sh must run as root (on a desktop: sudo -E bash scripts/run.sh):" \
       "Tavrin brings up its packet filter daemon" >&2
  exit 1
fi
headless=
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
fi
args=()
for a in "$@"; do
  case "$a" in
    --headless) headless=1 ;;
    *) args+=("$a") ;;
  esac
done

bash scripts/deps.sh
bash scripts/build.sh default Ovlank tavrinctl Tavrin
home=${TAVRIN_HOME:-/var/lib/tavrin}
mkdir -p "$home"
chmod 0700 "$home"
if [ -n "$headless" ]; then
  exec build/default/bin/tavrinctl run --dir "$home" "${args[@]}"
fi
for a in "${args[@]}"; do
  if [ "$a" = "--filter" ]; then
    echo "scripts/run.sh: --filter is for --headless; in the window, filtering starts with" \
         "its button or the option 起動時にフィルタリングを開始する。" >&2
    exit 2
  fi
done
exec build/default/bin/Tavrin --dir "$home" "${args[@]}"
