#!/usr/bin/env bash
# The Debian package as a user gets it, made by CPack from the build as it stands
# (into a scratch folder: the build folder's own package is left alone and no other
# configuration is built).
#
#   PackageTest.sh contents BUILD_DIR  its control fields and files, unpacked with
#       dpkg -x: every file in its place, the installed paths inside the service,
#       policy, launcher and manual pages; the unit through systemd-analyze verify;
#       each manual page rendered without a warning and naming every option the
#       programs' --help lists; the bash completion.
#   PackageTest.sh install BUILD_DIR   (root) apt install, remove, install again and
#       purge, in namespaces of the test's own: a private mount namespace whose /usr,
#       /etc and /var are overlays on a scratch tmpfs, a network namespace and a pid
#       namespace. The machine's own system, chains and processes are never touched,
#       and whatever the test made ends with its namespaces, also when it fails.
set -euo pipefail
mode=${1:-}
build=${2:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 143' TERM INT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The package from the build as it stands, into the scratch folder: $deb.
make_package() {
  cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log" >&2
    fail "cpack did not make the package"
  }
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  deb="$scratch/out/tavrin_${version}_$(dpkg --print-architecture).deb"
  [ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$scratch/out")"
}

contents() {
  make_package
  # Control fields: the dependencies are the libraries' packages and the tools the
  # programs run, each a package this machine has (the build found them here).
  [ "$(dpkg-deb -f "$deb" Package)" = tavrin ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
  local depends names name
  depends=$(dpkg-deb -f "$deb" Depends)
  names=$(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/ //g')
  for name in iptables kmod qt6-qpa-plugins libc6 libstdc++6 libqt6core6 libqt6gui6 \
    libqt6widgets6 libqt6charts6 libnetfilter-queue1 libmnl0; do
    grep -qxF "$name" <<<"$names" || fail "Depends lacks $name: $depends"
  done
  for name in $names; do
    dpkg-query -W -f='${Status}' "${name%%|*}" 2>/dev/null | grep -q "install ok installed" ||
      fail "Depends names $name, which is no installed package"
  done

  local control="$scratch/control"
  dpkg-deb -e "$deb" "$control"
  for script in postinst prerm postrm; do
    [ -x "$control/$script" ] || fail "no executable $script"
    sh -n "$control/$script" || fail "$script is no shell script"
    ! grep -q '@[A-Z_]*@' "$control/$script" || fail "$script keeps a placeholder"
  done
  grep -q "^daemon='/usr/lib/tavrin/Ovlank'$" "$control/prerm" || fail "prerm names another daemon"

  # The files: exactly these, owned by root, programs executable and nothing else.
  local expected listed
  expected="/usr/bin/Tavrin 755
/usr/bin/tavrin-launch 755
/usr/bin/tavrinctl 755
/usr/lib/systemd/system/tavrin.service 644
/usr/lib/tavrin/Ovlank 755
/usr/share/applications/tavrin.desktop 644
/usr/share/bash-completion/completions/tavrinctl 644
/usr/share/doc/tavrin/README.md 644"
  for size in 128 16 22 24 256 32 48 64; do
    expected+=$'\n'"/usr/share/icons/hicolor/${size}x$size/apps/tavrin.png 644"
  done
  expected+="
/usr/share/icons/hicolor/scalable/apps/tavrin.svg 644
/usr/share/man/man1/Tavrin.1.gz 644
/usr/share/man/man1/tavrinctl.1.gz 644
/usr/share/man/man8/Ovlank.8.gz 644
/usr/share/polkit-1/actions/org.tavrin.Tavrin.policy 644"
  listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {
      sub(/^\./, "", $6); m = 0
      for (p = 0; p < 9; p++) if (substr($1, p + 2, 1) != "-") m += 2 ^ (2 - p % 3) * 10 ^ (2 - int(p / 3))
      if ($2 != "root/root") print "owner " $2 " of " $6
      print $6, m }' | sort)
  [ "$listed" = "$(sort <<<"$expected")" ] || fail "the package's files:
$listed
expected:
$expected"

  local root="$scratch/root"
  dpkg -x "$deb" "$root"
  # Files that name installed places name /usr ones, never the build's.
  grep -qx 'ExecStart=/usr/bin/tavrinctl run --dir /var/lib/tavrin' \
    "$root/usr/lib/systemd/system/tavrin.service" || fail "the service runs another program"
  grep -qx 'ExecStopPost=-/usr/lib/tavrin/Ovlank --remove --chains OVLANK --device /run/tavrin/Ovlank' \
    "$root/usr/lib/systemd/system/tavrin.service" || fail "the service clears up with another daemon"
  grep -q '>/usr/bin/Tavrin<' "$root/usr/share/polkit-1/actions/org.tavrin.Tavrin.policy" ||
    fail "the policy names another program"
  grep -qx "tavrin='/usr/bin/Tavrin'" "$root/usr/bin/tavrin-launch" || fail "the launcher starts another program"
  zcat "$root/usr/share/man/man8/Ovlank.8.gz" | grep -qx '.B /usr/lib/tavrin/Ovlank' ||
    fail "Ovlank(8) names another daemon"
  zcat "$root/usr/share/man/man1/Tavrin.1.gz" | grep -q '/var/lib/tavrin' || fail "Tavrin(1) settings"
  local file text
  for file in usr/lib/systemd/system/tavrin.service usr/share/polkit-1/actions/org.tavrin.Tavrin.policy \
    usr/bin/tavrin-launch usr/share/man/man1/Tavrin.1.gz usr/share/man/man1/tavrinctl.1.gz \
    usr/share/man/man8/Ovlank.8.gz; do
    text=$(zcat -f "$root/$file")
    ! grep -q '@[A-Z_]*@' <<<"$text" || fail "$file keeps a placeholder"
    ! grep -q -e "$build" -e /usr/local <<<"$text" || fail "$file names a build or /usr/local path"
  done
  for file in usr/bin/Tavrin usr/bin/tavrinctl usr/lib/tavrin/Ovlank; do
    file -b "$root/$file" | grep -q '^ELF .*, stripped$' || fail "$file: $(file -b "$root/$file")"
  done

  # The unit as systemd reads it. Its programs are not installed on this machine:
  # verified with them in the unpacked tree, and with the manual pages it names
  # found there (a warning is a failure too: systemd-analyze ends with 0 on them).
  sed -e "s|=\(-\?+\?\)/usr/|=\1$root/usr/|" "$root/usr/lib/systemd/system/tavrin.service" \
    >"$scratch/tavrin.service"
  local out
  out=$(MANPATH="$root/usr/share/man" systemd-analyze verify "$scratch/tavrin.service" 2>&1) ||
    fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify: $out"

  # Each manual page renders without a warning and names every option its
  # program's --help lists.
  local page help option rendered
  for page in man1/tavrinctl.1 man1/Tavrin.1 man8/Ovlank.8; do
    out=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$root/usr/share/man/$page.gz" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man $page: $out"
    out=$(zcat "$root/usr/share/man/$page.gz" | preconv | groff -man -ww -z -Tutf8 2>&1)
    [ -z "$out" ] || fail "groff $page: $out"
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/$page.gz" 2>/dev/null | col -b)
    case $page in
    man1/tavrinctl.1)
      help=$("$root/usr/bin/tavrinctl" --help)
      for sub in run show connections commands port-spec; do
        help+=$("$root/usr/bin/tavrinctl" "$sub" --help) || fail "tavrinctl $sub --help"
        grep -q "^       tavrinctl $sub" <<<"$rendered" || fail "$page: no $sub in the synopsis"
      done
      ;;
    man1/Tavrin.1) help=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/Tavrin" --help 2>/dev/null) ;;
    man8/Ovlank.8) help=$("$root/usr/lib/tavrin/Ovlank" --help) ;;
    esac
    for option in $(grep -oE -- '(^|[ [,])--?[a-z][a-z-]*' <<<"$help" | sed 's/^[ [,]//' | sort -u); do
      grep -qF -- "$option" <<<"$rendered" || fail "$page does not name $option"
    done
  done

  # The completion, as bash-completion loads it: the subcommands, then each
  # subcommand's options exactly as its --help lists them.
  local completion="$root/usr/share/bash-completion/completions/tavrinctl"
  complete_words() {
    (cd "$scratch/cwd" && bash --norc --noprofile -c \
      'source "$1" || exit 9; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tavrinctl
       printf "%s\n" "${COMPREPLY[@]}"' completion "$completion" tavrinctl "$@") |
      LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
  }
  mkdir -p "$scratch/cwd/settings" "$scratch/cwd/sub"
  touch "$scratch/cwd/Setting.ini" "$scratch/cwd/sample"
  local -a cases=(
    "co|commands connections"
    "|--help -h commands connections help port-spec run show"
    "r|run"
    "run --dir s|settings sub"
    "run --runtime-dir su|sub"
    "run --queue |"
    "show S|Setting.ini"
    "show --write sa|sample"
    "connections --count |"
    "commands sa|sample"
    "nosuch --|"
  )
  local entry words got
  for entry in "${cases[@]}"; do
    IFS=' ' read -r -a words <<<"${entry%%|*}"
    [[ ${entry%%|*} == *' ' || -z ${entry%%|*} ]] && words+=("")
    got=$(complete_words "${words[@]}")
    [ "$got" = "${entry#*|}" ] || fail "tavrinctl ${entry%%|*}<TAB>: '$got', not '${entry#*|}'"
  done
  for sub in run show connections commands port-spec; do
    help=$("$root/usr/bin/tavrinctl" "$sub" --help | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' |
      sed 's/^[ ,]//')
    [ "$sub" = port-spec ] && help+=$'\n--'
    help=$(LC_ALL=C sort -u <<<"$help" | tr '\n' ' ')
    got=$(complete_words "$sub" -)
    [ "$got" = "${help% }" ] || fail "tavrinctl $sub -<TAB>: '$got', its --help: '$help'"
  done
  bash --norc -c 'source "$1"; complete -p tavrinctl' x "$completion" | grep -q -- '-F _tavrinctl tavrinctl$' ||
    fail "the completion is not bound to tavrinctl"
  echo "package contents: ok"
}

install_test() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing the package needs root"
    exit 77
  fi
  make_package
  mkdir -p "$scratch/ns"
  chmod 0755 "$scratch" "$scratch/out"
  unshare --mount --propagation private --net --pid --fork --mount-proc \
    bash "$0" inside "$scratch/ns" "$deb"
}

# In the namespaces of `install`: the package's whole life on this machine.
inside() {
  local ns=$1 deb=$2
  mount -t tmpfs tmpfs "$ns"
  for d in usr etc var; do
    mkdir -p "$ns/$d.upper" "$ns/$d.work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$ns/$d.upper,workdir=$ns/$d.work" "/$d"
  done
  mount -t tmpfs -o mode=0755 tmpfs /run
  ip link set lo up
  # The manual page index is not what is tested, and rebuilding it takes long.
  rm -f /var/lib/man-db/auto-update
  export DEBIAN_FRONTEND=noninteractive TMPDIR="$ns"
  cd /
  apt_get() {
    command apt-get -y -q --no-install-recommends "$@" >"$ns/apt.log" 2>&1 || {
      cat "$ns/apt.log" >&2
      fail "apt-get $* (a dependency this machine lacks cannot be fetched here)"
    }
  }
  state() { dpkg-query -W -f='${Status}' tavrin 2>/dev/null || echo "not known"; }
  # The processes of the package, by the executable they run.
  running() {
    local p exe
    for p in /proc/[0-9]*; do
      exe=$(readlink "$p/exe" 2>/dev/null) || continue
      case $exe in /usr/bin/Tavrin | /usr/bin/tavrinctl | /usr/lib/tavrin/Ovlank) echo "$exe" ;; esac
    done
  }
  chains() { iptables-save -t mangle | grep -c OVLANK || true; }
  start_run() {
    /usr/bin/tavrinctl run --filter >"$ns/run.out" 2>"$ns/run.err" &
    run_pid=$!
    local i
    for i in $(seq 100); do
      grep -q '^filtering on$' "$ns/run.out" && return 0
      sleep 0.2
    done
    fail "tavrinctl run did not switch filtering on: $(cat "$ns/run.err")"
  }
  gone() {
    [ -z "$(running)" ] || fail "$1: still running: $(running)"
    [ "$(chains)" = 0 ] || fail "$1: chains left: $(iptables-save -t mangle | grep OVLANK)"
    [ ! -e /run/tavrin ] || fail "$1: /run/tavrin left: $(ls -R /run/tavrin)"
  }

  apt_get install "$deb"
  [ "$(state)" = "install ok installed" ] || fail "installed: $(state)"
  [ -x /usr/lib/tavrin/Ovlank ] && [ -x /usr/bin/tavrinctl ] && [ -x /usr/bin/Tavrin ] ||
    fail "the programs are not in place"
  [ "$(stat -c '%a %U' /var/lib/tavrin)" = "700 root" ] || fail "settings folder: $(stat -c '%a %U' /var/lib/tavrin)"
  [ "$(man -w tavrinctl)" = /usr/share/man/man1/tavrinctl.1.gz ] || fail "man tavrinctl: $(man -w tavrinctl)"
  [ "$(man -w 8 Ovlank)" = /usr/share/man/man8/Ovlank.8.gz ] || fail "man 8 Ovlank"
  bash --norc -c '. /usr/share/bash-completion/bash_completion; _completion_loader tavrinctl
                  complete -p tavrinctl' | grep -q -- '-F _tavrinctl' || fail "bash-completion does not load it"
  systemctl enable tavrin.service >/dev/null 2>&1 || fail "systemctl enable"

  # Removal while the installed program filters: it leaves through its exit path
  # (which saves the settings), its daemon with it.
  start_run
  [ "$(chains)" != 0 ] || fail "no chains while filtering"
  apt_get remove tavrin
  for _ in $(seq 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$run_pid" 2>/dev/null || fail "tavrinctl run outlived the removal"
  wait "$run_pid" || fail "tavrinctl run ended with $? at the removal: $(cat "$ns/run.err")"
  gone "remove"
  [ "$(state)" = "deinstall ok config-files" ] || fail "removed: $(state)"
  [ ! -e /usr/bin/tavrinctl ] || fail "the program stays after removal"
  grep -q '^INI_FILE_VERSION=' /var/lib/tavrin/Setting.ini || fail "the settings went with the removal"
  [ "$(readlink /etc/systemd/system/tavrin.service)" = /dev/null ] ||
    fail "the removed service is not masked"

  # Installed again: the administrator's enabling comes back, the settings are kept.
  echo "; kept" >>/var/lib/tavrin/Setting.ini
  apt_get install "$deb"
  [ ! -e /etc/systemd/system/tavrin.service ] || fail "still masked after the new install"
  [ "$(systemctl is-enabled tavrin.service 2>&1)" = enabled ] || fail "the enabling did not come back"
  grep -q '^; kept$' /var/lib/tavrin/Setting.ini || fail "the install replaced the settings"

  # Purge after a crash: the program and its daemon killed, their chains and
  # records left behind, which the removal clears with the records' clean-up.
  start_run
  kill -9 "$run_pid"
  wait "$run_pid" 2>/dev/null || true
  pkill -9 -x Ovlank
  for _ in $(seq 50); do [ -z "$(running)" ] && break; sleep 0.1; done
  [ "$(chains)" != 0 ] || fail "the killed daemon left no chains to clear"
  [ -f /run/tavrin/services/Ovlank ] || fail "the killed run left no record"
  apt_get purge tavrin
  gone "purge"
  [ "$(state)" = "not known" ] || fail "purged: $(state)"
  [ ! -e /var/lib/tavrin ] || fail "purge kept the settings"
  local left
  left=$(find /etc/systemd /var/lib/systemd -name '*tavrin*' 2>/dev/null)
  [ -z "$left" ] || fail "purge left the service's traces: $left"
  echo "package install, remove, purge: ok"
}

case $mode in
contents) contents ;;
install) install_test ;;
inside) inside "$2" "$3" ;;
*) fail "usage: PackageTest.sh contents|install BUILD_DIR" ;;
esac
