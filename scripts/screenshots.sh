#!/usr/bin/env bash
# Takes the README's screenshots: Tavrin with a real daemon, run under Xvfb inside a
# network namespace of its own (with a second namespace as a peer host), on the
# sample settings of scripts/screenshots/, page by page and dialog by dialog.
# Writes docs/screenshots/*.png. Must run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/screenshots.sh must run as root: Tavrin brings up its daemon" >&2
  exit 1
fi
bash scripts/deps.sh
bash scripts/build.sh default Ovlank tavrin_screenshot_tour >/dev/null

tag=tvshot$$
ns=${tag}a
peer=${tag}b
display=:$((90 + $$ % 100))
work=$(mktemp -d)
out=$(pwd)/docs/screenshots
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  ip netns del "$peer" 2>/dev/null || true
  rm -rf "$work" "/run/tavrin-$tag"
}
trap cleanup EXIT

# The host Tavrin runs on, with its adapter lan0, and a peer at 10.99.0.2.
ip netns add "$ns"
ip netns add "$peer"
ip link add lan0 netns "$ns" type veth peer name eth0 netns "$peer"
ip -n "$ns" addr add 10.99.0.1/24 dev lan0
ip -n "$peer" addr add 10.99.0.2/24 dev eth0
for n in "$ns" "$peer"; do ip -n "$n" link set lo up; done
ip -n "$ns" link set lan0 up
ip -n "$peer" link set eth0 up
# A server and a client talking across the link, so the monitors have something to show.
ip netns exec "$peer" sh -c 'while true; do echo hello; sleep 1; done | nc -l -k -p 8080' \
  >/dev/null 2>&1 &
ip netns exec "$ns" sh -c 'sleep 1; while true; do nc -w 30 10.99.0.2 8080 >/dev/null; sleep 1; done' \
  >/dev/null 2>&1 &
ip netns exec "$ns" ping -q -i 0.5 10.99.0.2 >/dev/null 2>&1 &

cp scripts/screenshots/Setting.ini "$work/"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

mkdir -p "$out"
ip netns exec "$ns" env DISPLAY="$display" QT_QPA_PLATFORM=xcb \
  build/default/bin/tavrin_screenshot_tour "$out" --dir "$work" \
  --runtime-dir "/run/tavrin-$tag" --queue $((30000 + $$ % 20000)) --chains "SHOT$$"
echo "screenshots written to $out"
