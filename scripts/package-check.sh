#!/usr/bin/env bash
# Builds the packages from an existing build and checks what a site gets:
# their contents, the systemd unit, and the server's packaged configuration.
# Usage: scripts/package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
work=$(mktemp -d /tmp/pru-pkg.XXXXXX)
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
  /usr/share/applications/pru_host.desktop /usr/share/icons/hicolor/scalable/apps/pru_host.svg /etc/xdg/pru/pru_host.conf
expect "$server" /usr/bin/pru_server /etc/pru/pru_server.conf /lib/systemd/system/pru-server.service
for script in postinst prerm postrm conffiles; do
  dpkg-deb --info "$server" "$script" >/dev/null 2>&1 || fail "pru-server lacks its $script"
done
dpkg-deb --info "$server" conffiles | grep -qx /etc/pru/pru_server.conf || fail "the server's configuration is not a conffile"
dpkg-deb --info "$server" postinst | grep -q "adduser --system" || fail "postinst does not create the system user"
echo "   contents: pru-host and pru-server hold what they must"

# The server package in a scratch root: its configuration is accepted, and
# the program runs from there with its own libraries.
scratch=$work/root
dpkg-deb -x "$server" "$scratch"
"$scratch/usr/bin/pru_server" --config "$scratch/etc/pru/pru_server.conf" --check-config | grep -q "configuração aceita" \
  || fail "the packaged configuration is not accepted"
sed 's/^address=.*/address=0.0.0.0/' "$scratch/etc/pru/pru_server.conf" >"$work/open.conf"
if "$scratch/usr/bin/pru_server" --config "$work/open.conf" --check-config >/dev/null 2>&1; then
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
