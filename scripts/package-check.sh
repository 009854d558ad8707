#!/usr/bin/env bash
# Builds the packages from an existing build and checks what a site gets:
# their contents, the systemd unit, the server's packaged configuration, the
# reference data loaded from the example files (SQLite, and PostgreSQL when
# PRU_TEST_PG names a server) and, as root on a machine without pru-server,
# an upgrade from the previous version installed with apt, the TLS key as the
# service reads it, and a purge that leaves nothing to a vanished owner.
# Usage: scripts/package-check.sh BUILD_DIR
#   PRU_PREVIOUS_REF=REF   the git ref of the previous version (default: the
#                          commit before project() last changed its version)
#   PRU_PACKAGE_INSTALL=0  skips the installation on this machine
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build dir}" && pwd)
work=$(mktemp -d /tmp/pru-pkg.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
host=$(ls "$work"/out/pru-host_*.deb) || fail "pru-host was not built"
server=$(ls "$work"/out/pru-server_*.deb) || fail "pru-server was not built"

# What each package must hold.
expect() { # deb path...
  local deb=$1; shift
  local contents; contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
  for path in "$@"; do
    grep -qx "./${path#/}" <<<"$contents" || fail "$(basename "$deb") lacks $path"
  done
}
expect "$host" /usr/bin/pru_host /usr/lib/pru/libPRU87000.so /usr/lib/pru/libframework.so \
  /usr/share/applications/pru_host.desktop /usr/share/icons/hicolor/scalable/apps/pru_host.svg /etc/xdg/pru/pru_host.conf /usr/share/doc/pru-host/report.md
expect "$server" /usr/bin/pru_server /etc/pru/pru_server.conf /lib/systemd/system/pru-server.service \
  /usr/sbin/pru-make-cert /usr/share/pru-server/postgres-setup.sql /usr/share/pru-server/postgres-lookup-role.sql \
  /usr/share/doc/pru-server/examples/periodicidades.csv
for script in postinst prerm postrm conffiles; do
  dpkg-deb --info "$server" "$script" >/dev/null 2>&1 || fail "pru-server lacks its $script"
done
dpkg-deb --info "$server" conffiles | grep -qx /etc/pru/pru_server.conf || fail "the server's configuration is not a conffile"
dpkg-deb --info "$server" postinst | grep -q "adduser --system" || fail "postinst does not create the system user"
dpkg-deb -f "$host" Depends | grep -q libqt6sql6-psql || fail "pru-host does not depend on the PostgreSQL driver"
dpkg-deb -f "$host" Depends | grep -q libqt6printsupport6 || fail "pru-host does not depend on Qt's printing, which its report needs"
echo "   contents: pru-host and pru-server hold what they must"

# The server package in a scratch root: its configuration is accepted, and
# the program runs from there with its own libraries.
scratch=$work/root
dpkg-deb -x "$server" "$scratch"
# The packaged file alone, not this machine's accounts: as root the check
# would also look at the user pru.
as_nobody=()
[ "$(id -u)" -eq 0 ] && as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${as_nobody[@]}" "$scratch/usr/bin/pru_server" --config "$scratch/etc/pru/pru_server.conf" --check-config | grep -q "configuração aceita" \
  || fail "the packaged configuration is not accepted"
sed 's/^address=.*/address=0.0.0.0/' "$scratch/etc/pru/pru_server.conf" >"$work/open.conf"
if "${as_nobody[@]}" "$scratch/usr/bin/pru_server" --config "$work/open.conf" --check-config >/dev/null 2>&1; then
  fail "--check-config accepted a plain listener on every address"
fi
mkdir -p "$scratch/var/lib/pru"
"$scratch/usr/bin/pru_server" --config "$scratch/etc/pru/pru_server.conf" --sqlite "$scratch/var/lib/pru/pru87000.sqlite" \
  --port 0 --port-file "$work/port" 2>"$work/server.log" &
pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
[ -s "$work/port" ] || { cat "$work/server.log" >&2; fail "the packaged server did not start"; }
kill -TERM "$pid"; wait "$pid" || fail "the packaged server did not stop cleanly"
echo "   scratch root: the packaged configuration passes --check-config; the packaged server starts and stops"
hostroot=$work/hostroot
dpkg-deb -x "$host" "$hostroot"
for program in "$scratch/usr/bin/pru_server" "$hostroot/usr/bin/pru_host" "$hostroot/usr/lib/pru/libframework.so"; do
  if readelf -S "$program" | grep -q '\.debug_info'; then fail "$(basename "$program") ships its debug information"; fi
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$hostroot/usr/bin/pru_host" --help | grep -q -- --server \
  || fail "pru_host --help needs a display"
for deb in "$host" "$server"; do
  echo "   $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version): $(dpkg-deb -f "$deb" Installed-Size) KiB installed, stripped"
done

# Reference data from the packaged example files, in the order a site loads
# them; then a bad file is refused with nothing of it written.
examples=$scratch/usr/share/doc/pru-server/examples
load_examples() { # database options...
  local kind
  for kind in units:unidades operators:operadores groups:grupos members:membros periodicities:periodicidades; do
    "$scratch/usr/bin/pru_server" "$@" --import "${kind%%:*}" --file "$examples/${kind##*:}.csv" >/dev/null \
      || fail "the example ${kind##*:}.csv was not imported ($*)"
  done
  [ "$("$scratch/usr/bin/pru_server" "$@" --list periodicities | wc -l)" -eq 8 ] || fail "the periodicities did not all arrive ($*)"
  printf 'CDPERIENTR,NMPERIENTR,IDTIPODIA,IDDIASSEMANA\nQA,Quartas,S,NNNSNNN\nQB,Ruim,S,NSN\n' >"$work/bad.csv"
  local out
  if out=$("$scratch/usr/bin/pru_server" "$@" --import periodicities --file "$work/bad.csv" 2>&1); then
    fail "a bad periodicity file was accepted ($*)"
  fi
  grep -q "linha 3, coluna IDDIASSEMANA" <<<"$out" || fail "the refusal does not name line and column: $out"
  if "$scratch/usr/bin/pru_server" "$@" --list periodicities | grep -q '^QA'; then
    fail "a refused file left a row behind ($*)"
  fi
}
load_examples --sqlite "$work/reference.sqlite"
if command -v script >/dev/null; then
  # On a terminal --add-operator asks for the password and does not show it.
  typed=$( (sleep 1; printf 'segredo\n') | script -qec "'$scratch/usr/bin/pru_server' --sqlite '$work/reference.sqlite' \
    --add-operator ANA --name Ana --unit 0001" /dev/null)
  grep -q "Senha do operador ANA:" <<<"$typed" && ! grep -q segredo <<<"$typed" \
    || fail "--add-operator on a terminal: $typed"
fi
echo "   reference data: the example files load on SQLite; a bad file is refused by line and column, nothing written"
if [ -n "${PRU_TEST_PG:-}" ] && command -v psql >/dev/null; then
  # The packaged set-up, run as the superuser the test server gives.
  pgdb=pru_pkg_$$
  eval "$(sed -E 's/([a-z]+)=([^ ]*)/pg_\1=\2/g' <<<"$PRU_TEST_PG")"
  super=(psql -X -q -h "$pg_host" -p "$pg_port" -U "$pg_user")
  "${super[@]}" -d postgres -v database="$pgdb" -v server_role=pru_pkg -v lookup_role=pru_pkg_lookup -v lookup_limit=7 \
    -v server_password=servidor -v lookup_password=consultas -f "$scratch/usr/share/pru-server/postgres-setup.sql" >/dev/null \
    || fail "postgres-setup.sql failed"
  pg=(--pg "host=$pg_host port=$pg_port user=pru_pkg password=servidor dbname=$pgdb")
  "$scratch/usr/bin/pru_server" "${pg[@]}" --create-db >/dev/null || fail "the server's role cannot create its tables"
  "${super[@]}" -d "$pgdb" -v role=pru_pkg_lookup -f "$scratch/usr/share/pru-server/postgres-lookup-role.sql" >/dev/null \
    || fail "postgres-lookup-role.sql failed"
  load_examples "${pg[@]}"
  [ "$("${super[@]}" -d postgres -Atc "SELECT rolconnlimit || ' ' || array_to_string(rolconfig, ',') FROM pg_roles WHERE rolname = 'pru_pkg_lookup'")" \
    = "7 statement_timeout=5s" ] || fail "the lookup role lacks its connection limit or statement timeout"
  [ "$("${super[@]}" -d "$pgdb" -Atc "SELECT has_table_privilege('pru_pkg_lookup', 'perientr', 'SELECT'), has_table_privilege('pru_pkg_lookup', 'operadorsenha', 'SELECT')")" \
    = "t|f" ] || fail "the lookup role's rights are not the lookups' own"
  "${super[@]}" -d postgres -c "DROP DATABASE $pgdb WITH (FORCE)" -c "DROP ROLE pru_pkg_lookup" -c "DROP ROLE pru_pkg" >/dev/null
  echo "   PostgreSQL: postgres-setup.sql and postgres-lookup-role.sql as the superuser; the example files load; a bad file is refused"
else
  echo "   PostgreSQL skipped: PRU_TEST_PG is not set (scripts/test.sh starts a server)"
fi

unit=$scratch/lib/systemd/system/pru-server.service
for line in "After=network-online.target postgresql.service" Restart=on-failure NoNewPrivileges=yes PrivateTmp=yes \
  ProtectSystem=strict ReadWritePaths=/var/lib/pru StandardError=journal User=pru; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
if ! command -v systemd-analyze >/dev/null; then
  echo "   systemd-analyze verify skipped: systemd-analyze is not installed"
elif [ ! -e /lib/systemd/system/sysinit.target ]; then
  echo "   systemd-analyze verify skipped: this machine has no systemd units to verify against"
else
  # The scratch root plus the system's own units, so ExecStart= names a real file.
  cp -an /lib/systemd/system/. "$scratch/lib/systemd/system/"
  out=$(systemd-analyze verify --root="$scratch" pru-server.service 2>&1) && [ -z "$out" ] \
    || fail "systemd-analyze verify: $out"
  echo "   systemd-analyze verify: pru-server.service is clean"
fi

# ---- On this machine, as a site installs them: the previous version, then
# this one; the TLS key as the service reads it; a purge.
if [ "${PRU_PACKAGE_INSTALL:-1}" = 0 ]; then
  echo "   installation skipped: PRU_PACKAGE_INSTALL=0"; exit 0
elif [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "   installation skipped: it needs root and apt"; exit 0
elif dpkg-query -W -f='${Status}' pru-server 2>/dev/null | grep -q installed || getent passwd pru >/dev/null; then
  echo "   installation skipped: this machine already has pru-server or a user pru"; exit 0
fi

cd /
# The previous version's packages, built from its commit in a folder beside
# this build (so ccache finds what was compiled for it before).
previous=$build/package-previous
rm -rf "$previous"; mkdir -p "$previous/src"
ref=${PRU_PREVIOUS_REF:-}
if [ -z "$ref" ] && git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  changed=$(git -C "$root" log -n1 --format=%H -G'^project\(' -- CMakeLists.txt || true)
  [ -n "$changed" ] && git -C "$root" rev-parse -q --verify "$changed^" >/dev/null && ref="$changed^"
fi
if [ -n "$ref" ]; then
  git -C "$root" archive "$ref" | tar -x -C "$previous/src"
  describe="from $(git -C "$root" rev-parse --short "$ref")"
  prevopts=()
else
  # No history (a tarball, a shallow clone): this tree under an older version.
  cp -a "$root/CMakeLists.txt" "$root/cmake" "$root/src" "$root/tests" "$root/bench" "$root/packaging" "$root/docs" \
    "$root/scripts" "$previous/src/"
  describe="this tree as version 0.1"
  prevopts=(-DPRU_VERSION=0.1)
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Unoptimised and without debug information: only its packages are used, and
# this build is the longest step of the check.
cmake -S "$previous/src" -B "$previous/src/build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O0 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O0 -DNDEBUG" "${launcher[@]}" "${prevopts[@]}" \
  >"$previous/build.log" 2>&1 || { tail "$previous/build.log" >&2; fail "the previous version does not configure"; }
cmake --build "$previous/src/build" -j "$(nproc)" --target pru_server pru_host PRU87000 framework dataset rpc pru_data \
  pru_definitions >>"$previous/build.log" 2>&1 || { tail "$previous/build.log" >&2; fail "the previous version does not build"; }
cpack --config "$previous/src/build/CPackConfig.cmake" -B "$previous/out" >/dev/null
old_server=$(ls "$previous"/out/pru-server_*.deb); old_host=$(ls "$previous"/out/pru-host_*.deb)
old_version=$(dpkg-deb -f "$old_server" Version); new_version=$(dpkg-deb -f "$server" Version)
dpkg --compare-versions "$new_version" gt "$old_version" || fail "$new_version does not upgrade $old_version"
echo "   previous version $old_version: pru-host $(dpkg-deb -f "$old_host" Installed-Size) KiB, pru-server" \
  "$(dpkg-deb -f "$old_server" Installed-Size) KiB installed"

installed() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }
purge_all() {
  local package
  for package in pru-server pru-host; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
      DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$package" >/dev/null 2>&1 || dpkg --purge "$package" >/dev/null 2>&1 || true
    fi
  done
}
trap 'purge_all; rm -rf /var/lib/pru /etc/pru /etc/xdg/pru "$work" "$previous"' EXIT
apt_install() { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  -o Dpkg::Options::=--force-confold "$@" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt could not install $*"; }; }
apt_install "$old_server" "$old_host"
[ "$(installed pru-server)" = "$old_version" ] || fail "the previous pru-server is not installed"
as_pru=(runuser -u pru -- /usr/bin/pru_server --config /etc/pru/pru_server.conf)
"${as_pru[@]}" --add-unit 0001 --name "Loja Centro" >/dev/null || fail "the previous server did not create its database"
before=$("${as_pru[@]}" --create-db | sed -E 's/.*versão ([0-9]+).*/\1/')
# A site's changes to both configuration files.
sed -i 's/^port=8787/port=8799/' /etc/pru/pru_server.conf
echo "; configurado pela loja" >>/etc/xdg/pru/pru_host.conf

apt_install "$server" "$host"
grep -qi warn "$work/apt.log" && fail "the upgrade warned: $(grep -i warn "$work/apt.log")"
[ "$(installed pru-server)" = "$new_version" ] && [ "$(installed pru-host)" = "$new_version" ] \
  || fail "the upgrade did not install $new_version"
grep -qx 'port=8799' /etc/pru/pru_server.conf || fail "the upgrade lost the server's configuration"
grep -qx '; configurado pela loja' /etc/xdg/pru/pru_host.conf || fail "the upgrade lost the desktops' site file"
migrated=$("${as_pru[@]}" --create-db)
grep -q "versão .* (antes: $before)" <<<"$migrated" || fail "the schema was not migrated: $migrated"
"${as_pru[@]}" --list units | grep -q '^0001' || fail "the upgrade lost the data"
/usr/bin/pru_server --version | grep -qxF "pru_server $new_version" || fail "--version does not say $new_version"
echo "   upgrade: $old_version ($describe) -> $new_version with apt; both configuration files kept;" \
  "$(sed -E 's/\): .*/)/' <<<"$migrated")"

# The TLS key: made by the packaged maker, read by the service's user.
pru-make-cert pru.exemplo /etc/pru >/dev/null
[ "$(stat -c '%U:%G %a' /etc/pru/pru-server.key)" = "root:pru 640" ] || fail "the key is $(stat -c '%U:%G %a' /etc/pru/pru-server.key)"
printf '[tls]\ncertificate=/etc/pru/pru-server.crt\nkey=/etc/pru/pru-server.key\n' >>/etc/pru/pru_server.conf
/usr/bin/pru_server --config /etc/pru/pru_server.conf --check-config | grep -q "o usuário pru do serviço lê" \
  || fail "--check-config as root did not check as the service's user"
# setpriv execs the server itself, so the signal reaches it as systemd's would.
setpriv --reuid=pru --regid=pru --init-groups /usr/bin/pru_server --config /etc/pru/pru_server.conf \
  --port 0 --port-file /var/lib/pru/pru.port 2>"$work/service.log" &
service=$!
for _ in $(seq 100); do [ -s /var/lib/pru/pru.port ] && break; kill -0 "$service" 2>/dev/null || break; sleep 0.1; done
[ -s /var/lib/pru/pru.port ] || { cat "$work/service.log" >&2; fail "the service's user could not start with TLS"; }
kill -TERM "$service"; wait "$service" || { cat "$work/service.log" >&2; fail "the installed server did not stop cleanly"; }
chmod 0600 /etc/pru/pru-server.key
if out=$(/usr/bin/pru_server --config /etc/pru/pru_server.conf --check-config 2>&1) || ! grep -q "pru-server.key" <<<"$out"; then
  fail "--check-config as root accepted a key the service cannot read: $out"
fi
echo "   TLS key: pru-make-cert writes it root:pru 0640; the service's user starts with it; a key it cannot read fails --check-config"

# Purge: the user goes, the data stays with root, no file keeps a freed id.
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pru-server pru-host >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "purge failed"; }
getent passwd pru >/dev/null && fail "purge left the user pru"
getent group pru >/dev/null && fail "purge left the group pru"
[ -f /var/lib/pru/pru87000.sqlite ] || fail "purge removed the data"
orphans=$(find /var/lib/pru /etc/pru \( -nouser -o -nogroup \) 2>/dev/null)
[ -z "$orphans" ] || fail "purge left files of a vanished owner: $orphans"
echo "   purge: the user and group go; the data and the key stay, owned by root"

# A first install on a clean machine says nothing to warn about, and takes
# back the data a purge left to root.
apt_install "$server"
grep -qi warn "$work/apt.log" && fail "the first install warned: $(grep -i warn "$work/apt.log")"
[ "$(stat -c '%U' /var/lib/pru/pru87000.sqlite)" = pru ] || fail "a new install did not give the data back to pru"
echo "   first install: no warning; the service's folder is pru's again"
