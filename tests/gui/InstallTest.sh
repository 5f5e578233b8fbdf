#!/usr/bin/env bash
# The installed layout and the desktop launcher: `cmake --install` into a scratch
# folder, the desktop entry and polkit action checked by their own validators, and
# the launcher run as an ordinary user with pkexec and xhost standing in, to see
# that root gets the display for the run only and that Tavrin is started through
# pkexec with the settings folder. Usage: InstallTest.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Into a scratch root as a package build does it: the files name the real places.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
DESTDIR="$root" cmake --install "$build" >/dev/null
for f in bin/Tavrin bin/tavrinctl lib/tavrin/Ovlank bin/tavrin-launch \
         share/applications/tavrin.desktop share/polkit-1/actions/org.tavrin.Tavrin.policy \
         share/icons/hicolor/48x48/apps/tavrin.png share/icons/hicolor/scalable/apps/tavrin.svg \
         share/doc/tavrin/README.md lib/systemd/system/tavrin.service \
         share/man/man1/tavrinctl.1.gz share/man/man1/Tavrin.1.gz share/man/man8/Ovlank.8.gz \
         share/bash-completion/completions/tavrinctl; do
  [ -e "$root$prefix/$f" ] || fail "$f is not installed"
done
# The daemon is no program a user starts: not among them.
[ ! -e "$root$prefix/bin/Ovlank" ] || fail "the daemon is installed among the programs"
# Files that name installed paths name this install's.
grep -qx "ExecStart=$prefix/bin/tavrinctl run --dir /var/lib/tavrin" \
  "$root$prefix/lib/systemd/system/tavrin.service" || fail "the service names another program"
zcat "$root$prefix/share/man/man8/Ovlank.8.gz" | grep -q "^.B $prefix/lib/tavrin/Ovlank" ||
  fail "the manual page names another daemon"
desktop-file-validate "$root$prefix/share/applications/tavrin.desktop" || fail "desktop entry"
xmllint --noout "$root$prefix/share/polkit-1/actions/org.tavrin.Tavrin.policy" || fail "policy"
grep -q ">$prefix/bin/Tavrin<" "$root$prefix/share/polkit-1/actions/org.tavrin.Tavrin.policy" ||
  fail "the policy names another program"

# The launcher as a desktop user: stand-ins record what they are asked.
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the launcher test runs the launcher as nobody"; exit 0; }
fake="$root/fake"
mkdir -p "$fake"
cat >"$fake/xhost" <<'EOS'
#!/bin/sh
echo "xhost $*" | sed "s/ $//" >>"$LOG"
[ $# -eq 0 ] && { echo "access control enabled"; [ -n "$ALREADY" ] && echo "SI:localuser:root"; }
exit 0
EOS
cat >"$fake/pkexec" <<'EOS'
#!/bin/sh
echo "pkexec $* DISPLAY=$DISPLAY" >>"$LOG"
exit 3
EOS
chmod 0755 "$fake/xhost" "$fake/pkexec"
chmod 0777 "$root"
for already in "" 1; do
  log="$root/log$already"
  set +e
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i PATH="$fake:/usr/bin:/bin" DISPLAY=:7 LOG="$log" ALREADY="$already" \
    sh "$root$prefix/bin/tavrin-launch" --queue 5
  status=$?
  set -e
  [ "$status" -eq 3 ] || fail "the launcher's status is $status, not Tavrin's"
  if [ -z "$already" ]; then
    expected="xhost
xhost +SI:localuser:root
pkexec $prefix/bin/Tavrin --dir /var/lib/tavrin --queue 5 DISPLAY=:7
xhost -SI:localuser:root"
  else
    # Someone else let root in: theirs to take back.
    expected="xhost
pkexec $prefix/bin/Tavrin --dir /var/lib/tavrin --queue 5 DISPLAY=:7"
  fi
  [ "$(cat "$log")" = "$expected" ] || fail "launcher calls:
$(cat "$log")
expected:
$expected"
done
echo "install and launcher: ok"
