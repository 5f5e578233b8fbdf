#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need. Quiet and
# quick when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-format
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libboost-dev
  libnetfilter-queue-dev libmnl-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
  iptables iproute2 iputils-ping traceroute iperf3 procps psmisc
  xvfb xauth xdotool desktop-file-utils libxml2-utils fonts-noto-cjk qt6-translations-l10n netcat-openbsd
  qt6-qpa-plugins kmod
  dpkg-dev file man-db groff-base bash-completion systemd util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}"
if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/tavrin-apt.log 2>&1; then
  apt-get update -q >>/tmp/tavrin-apt.log 2>&1
  apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/tavrin-apt.log 2>&1 || {
    tail -n 30 /tmp/tavrin-apt.log >&2
    exit 1
  }
fi
