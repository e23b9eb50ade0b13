#!/usr/bin/env bash
# Builds the desk and its local backend, packs them with cpack into build/packages/ as two Debian packages,
# tallybrook and tallybrook-server, and checks what is in them.
# Usage: scripts/package.sh [--install]
#   --install  then also installs both on this machine with apt-get, checks them installed, and purges them again
#              (as root; it changes the machine, so only when asked).
# TALLYBROOK_BUILD_JOBS sets the build's parallel jobs (default: all cores).
set -euo pipefail
cd "$(dirname "$0")/.."

install=0
case "${1:-}" in
  "") ;;
  --install) install=1 ;;
  *) echo "usage: $0 [--install]" >&2; exit 2 ;;
esac

bash scripts/setup.sh

# One build at a time in build/: a test run or scripts/run.sh may be building there too, and cpack must not read a
# binary while it is being linked.
exec 9>/tmp/tallybrook-build.lock
flock 9
cmake --preset default
cmake --build build --parallel "${TALLYBROOK_BUILD_JOBS:-$(nproc)}" --target tallybrook tallybrook-server
rm -rf build/packages
cpack --config build/CPackConfig.cmake
flock -u 9

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
desk_deb=build/packages/tallybrook_${version}_${arch}.deb
server_deb=build/packages/tallybrook-server_${version}_${arch}.deb
maintainer="Tallybrook developers <dev@tallybrook.app>"
homepage=https://tallybrook.app
unit=lib/systemd/system/tallybrook-server.service

failures=0
ok() { echo "  ok    $*"; }
fail() { echo "  FAIL  $*"; failures=$((failures + 1)); }
check() { # check "what" command...
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

field() { dpkg-deb --field "$1" "$2"; }

# installed, config-files (removed, data kept), ...; empty or not-installed when dpkg knows nothing of it.
status() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }

# The package names in a Depends/Recommends line, one a line, without versions or alternatives' bars.
names_in() { sed 's/[,|]/\n/g' | sed 's/(.*)//; s/^ *//; s/ *$//' | sed '/^$/d'; }

check_fields() { # deb package section
  local deb=$1 package=$2
  check "Package: $package" test "$(field "$deb" Package)" = "$package"
  check "Version: $version" test "$(field "$deb" Version)" = "$version"
  check "Architecture: $arch" test "$(field "$deb" Architecture)" = "$arch"
  check "Maintainer: $maintainer" test "$(field "$deb" Maintainer)" = "$maintainer"
  check "Homepage: $homepage" test "$(field "$deb" Homepage)" = "$homepage"
  check "Section: $3" test "$(field "$deb" Section)" = "$3"
  check "Description has a summary and a longer text" test "$(field "$deb" Description | wc -l)" -ge 2
}

check_relation() { # deb field package...
  local deb=$1 name=$2 names
  shift 2
  names=$(field "$deb" "$name" | names_in)
  for p in "$@"; do
    check "$name names $p" grep -qx -- "$p" <<<"$names"
  done
}

# Exactly these files, nothing else (a stray /usr/local path or a missed component shows here).
check_files() { # deb file...
  local deb=$1 actual expected
  shift
  actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
  expected=$(printf './%s\n' "$@" | sort)
  for f in "$@"; do
    check "contains /$f" grep -qx -- "./$f" <<<"$actual"
  done
  check "contains nothing else" test "$actual" = "$expected"
  [ "$actual" = "$expected" ] || diff <(echo "$expected") <(echo "$actual") | sed 's/^/        /' || true
}

check_executable() { # deb file
  local contents
  contents=$(dpkg-deb --contents "$1")
  check "/$2 is executable (0755), root's" grep -q "^-rwxr-xr-x root/root .* \./$2\$" <<<"$contents"
}

for deb in "$desk_deb" "$server_deb"; do
  [ -f "$deb" ] || { echo "package: cpack made no $deb" >&2; ls -l build/packages >&2 || true; exit 1; }
done

echo "== $desk_deb ($(stat -c %s "$desk_deb") bytes)"
check_fields "$desk_deb" tallybrook x11
echo "  Depends: $(field "$desk_deb" Depends)"
check_relation "$desk_deb" Depends libqt6widgets6 libqt6network6 libqt6printsupport6 libqt6svg6 \
  libqt6keychain1 libqrencode4 libcups2
check_relation "$desk_deb" Recommends qt6-qpa-plugins
check_files "$desk_deb" usr/bin/tallybrook usr/share/applications/app.tallybrook.desk.desktop \
  usr/share/icons/hicolor/scalable/apps/app.tallybrook.desk.svg
check_executable "$desk_deb" usr/bin/tallybrook
mkdir "$work/desk"
dpkg-deb -x "$desk_deb" "$work/desk"
check "the desktop entry runs tallybrook" \
  grep -qx 'Exec=tallybrook' "$work/desk/usr/share/applications/app.tallybrook.desk.desktop"
check "the desktop entry names the packaged icon" \
  grep -qx 'Icon=app.tallybrook.desk' "$work/desk/usr/share/applications/app.tallybrook.desk.desktop"
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate" desktop-file-validate "$work/desk/usr/share/applications/app.tallybrook.desk.desktop"
fi

echo "== $server_deb ($(stat -c %s "$server_deb") bytes)"
check_fields "$server_deb" tallybrook-server net
echo "  Depends: $(field "$server_deb" Depends)"
check_relation "$server_deb" Depends adduser libqt6core6 libqt6network6 libsodium23 libsqlite3-0
check_files "$server_deb" usr/bin/tallybrook-server "$unit" usr/share/man/man1/tallybrook-server.1.gz
check_executable "$server_deb" usr/bin/tallybrook-server
mkdir "$work/server" "$work/control"
dpkg-deb -x "$server_deb" "$work/server"
dpkg-deb --control "$server_deb" "$work/control"
check "the packaged binary runs and knows --backup" \
  grep -q -- '--backup <file>' <("$work/server/usr/bin/tallybrook-server" --help)
for script in postinst prerm postrm; do
  check "$script is there and executable" test -x "$work/control/$script"
  check "$script passes sh -n" sh -n "$work/control/$script"
done
for line in 'User=tallybrook-server' 'Group=tallybrook-server' \
  'ExecStart=/usr/bin/tallybrook-server --data /var/lib/tallybrook-server' 'StateDirectory=tallybrook-server' \
  'NoNewPrivileges=yes' 'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes' \
  'WantedBy=multi-user.target'; do
  check "the unit has $line" grep -qx -- "$line" "$work/server/$unit"
done
if command -v systemd-analyze >/dev/null; then
  # verify exits 0 on unknown keys and bad values and only prints them, so any output is a failure. The binary is
  # not in /usr/bin yet: the copy runs the extracted one, and the man page it names is checked below instead.
  mkdir "$work/verify"
  sed "s|/usr/bin/tallybrook-server|$work/server/usr/bin/tallybrook-server|" "$work/server/$unit" \
    >"$work/verify/tallybrook-server.service"
  verify=$(systemd-analyze verify --man=no "$work/verify/tallybrook-server.service" 2>&1) || verify+=" (exit $?)"
  [ -z "$verify" ] || printf '        %s\n' "$verify"
  check "systemd-analyze verify: no complaints" test -z "$verify"
else
  echo "  skip  systemd-analyze verify (no systemd-analyze on this machine)"
fi
if command -v man >/dev/null; then
  page=$(MANWIDTH=100 man --warnings -l "$work/server/usr/share/man/man1/tallybrook-server.1.gz" 2>"$work/man.err")
  check "the man page renders without warnings" test ! -s "$work/man.err"
  check "the man page describes --backup" grep -q -- '--backup file' <<<"$page"
  check "the man page gives the restore steps" grep -q 'tallybrook.sqlite3-wal' <<<"$page"
else
  echo "  skip  the man page's rendering (no man on this machine)"
fi

if [ "$install" = 1 ]; then
  echo "== install, check and purge on this machine"
  if [ "$(id -u)" -ne 0 ]; then
    echo "package: --install needs root" >&2
    exit 1
  fi
  for p in tallybrook tallybrook-server; do
    if [ -n "$(status "$p")" ] && [ "$(status "$p")" != not-installed ]; then
      echo "package: $p is on this machine ($(status "$p")); this check purges at its end, so purge it first" >&2
      exit 1
    fi
  done
  if getent passwd tallybrook-server >/dev/null; then
    echo "package: a user tallybrook-server exists without the package; this check would delete it" >&2
    exit 1
  fi

  installed=1
  server_pid=
  purge() {
    [ "$installed" = 1 ] || return 0
    installed=0
    if [ -n "$server_pid" ]; then
      kill -TERM "$server_pid" 2>/dev/null || true
      wait "$server_pid" 2>/dev/null || true
    fi
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q tallybrook tallybrook-server
  }
  trap 'purge; cleanup' EXIT

  systemd_running=0
  [ -d /run/systemd/system ] && systemd_running=1
  echo "  systemd running: $([ $systemd_running = 1 ] && echo yes || echo no)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$PWD/$desk_deb" "$PWD/$server_deb"

  for p in tallybrook tallybrook-server; do
    check "$p is installed" test "$(status "$p")" = installed
  done
  check "/usr/bin/tallybrook-server --help runs" \
    grep -q -- '--backup <file>' <(/usr/bin/tallybrook-server --help)
  check "/usr/bin/tallybrook is there" test -x /usr/bin/tallybrook
  check "man tallybrook-server finds the page" \
    test "$(man -w tallybrook-server 2>/dev/null)" = /usr/share/man/man1/tallybrook-server.1.gz
  passwd=$(getent passwd tallybrook-server || true)
  check "the user tallybrook-server exists" test -n "$passwd"
  uid=$(cut -d: -f3 <<<"$passwd")
  check "it is a system user (uid $uid)" test "${uid:-1000}" -lt 1000
  check "its home is /var/lib/tallybrook-server" test "$(cut -d: -f6 <<<"$passwd")" = /var/lib/tallybrook-server
  check "it has no login shell" grep -q 'nologin$\|false$' <<<"$passwd"
  check "the group tallybrook-server exists" test -n "$(getent group tallybrook-server || true)"
  for dir in /var/lib/tallybrook-server /var/backups/tallybrook-server; do
    check "$dir is tallybrook-server's, 0700" \
      test "$(stat -c '%U:%G %a' "$dir" 2>/dev/null)" = "tallybrook-server:tallybrook-server 700"
  done
  check "the service is enabled" test -L /etc/systemd/system/multi-user.target.wants/tallybrook-server.service
  if command -v systemd-analyze >/dev/null; then
    verify=$(systemd-analyze verify "/$unit" 2>&1) || verify+=" (exit $?)"
    [ -z "$verify" ] || printf '        %s\n' "$verify"
    check "systemd-analyze verify /$unit, binary and man page in place: no complaints" test -z "$verify"
  fi

  # The server as the unit runs it: as its user, on its data folder. Without systemd it is started here by hand.
  # env and setpriv exec what they run, so a command started with this in the background is $! itself.
  as_service_user=(env -i PATH=/usr/bin:/bin HOME=/var/lib/tallybrook-server LANG=C.UTF-8
    setpriv --reuid=tallybrook-server --regid=tallybrook-server --init-groups)
  if [ $systemd_running = 1 ]; then
    for _ in $(seq 50); do
      systemctl is-active --quiet tallybrook-server && break
      sleep 0.2
    done
    check "the service was started and is active" systemctl is-active --quiet tallybrook-server
  else
    "${as_service_user[@]}" /usr/bin/tallybrook-server --data /var/lib/tallybrook-server --listen 127.0.0.1:0 \
      --quiet >"$work/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
      grep -q '^listening on' "$work/server.log" && break
      sleep 0.2
    done
    check "the server starts as tallybrook-server on /var/lib/tallybrook-server" \
      grep -q '^listening on' "$work/server.log"
    kill -TERM "$server_pid" 2>/dev/null || true
    check "it stops on SIGTERM" wait "$server_pid"
    server_pid=
  fi
  check "its database is there, the user's" \
    test "$(stat -c %U /var/lib/tallybrook-server/tallybrook.sqlite3 2>/dev/null)" = tallybrook-server
  check "its token secret is 0600" test "$(stat -c %a /var/lib/tallybrook-server/jwt-secret 2>/dev/null)" = 600
  backup=/var/backups/tallybrook-server/tallybrook.sqlite3
  check "a backup as the service user, as the README says" "${as_service_user[@]}" \
    /usr/bin/tallybrook-server --data /var/lib/tallybrook-server --backup "$backup"
  check "the backup is the user's, 0600" \
    test "$(stat -c '%U %a' "$backup" 2>/dev/null)" = "tallybrook-server 600"

  if [ $systemd_running = 0 ]; then
    # Nothing of this check's may outlive it; a process of the user's would also keep purge from deleting the user.
    check "no process of tallybrook-server's is left running" test -z "$(pgrep -u tallybrook-server || true)"
  fi

  purge
  trap cleanup EXIT
  echo "== after apt-get purge"
  for p in tallybrook tallybrook-server; do
    check "$p is purged" test "$(status "$p")" = "" -o "$(status "$p")" = not-installed
  done
  for f in /usr/bin/tallybrook /usr/share/applications/app.tallybrook.desk.desktop \
    /usr/share/icons/hicolor/scalable/apps/app.tallybrook.desk.svg /usr/bin/tallybrook-server "/$unit" \
    /usr/share/man/man1/tallybrook-server.1.gz /var/lib/tallybrook-server \
    /etc/systemd/system/multi-user.target.wants/tallybrook-server.service; do
    check "$f is gone" test ! -e "$f" -a ! -L "$f"
  done
  check "the user tallybrook-server is gone" test -z "$(getent passwd tallybrook-server || true)"
  check "the group tallybrook-server is gone" test -z "$(getent group tallybrook-server || true)"
  check "the backup is kept, now root's" test "$(stat -c %U "$backup" 2>/dev/null)" = root
  # The backup was this check's own: the machine is left as it was.
  rm -rf /var/backups/tallybrook-server
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "package: $failures check(s) failed"
  exit 1
fi
echo "package: all checks passed; packages in build/packages/"
ls -l build/packages/*.deb
