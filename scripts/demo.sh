#!/usr/bin/env bash
# Shows the system to a person: creates the demonstration database when it is
# missing, starts the application server on a free loopback port and opens the
# host logged in with the screen "Processos da Unidade". Without a display it
# runs offscreen, saves a picture of the screen and says where.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PRU_BUILD_DIR:-$root/build}
bin=$build/bin
var=$root/var
db=${PRU_DEMO_DB:-$var/pru87000.sqlite}
mkdir -p "$var/screenshots" "$var/log"

for program in pru_server pru_host; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo: $bin/$program não foi construído (rode scripts/run.sh)" >&2
    exit 1
  fi
done

if [ ! -f "$db" ]; then
  echo "== criando o banco de demonstração $db"
  "$bin/pru_server" --sqlite "$db" --demo
fi

log=$var/log/pru_server.log
portfile=$var/pru_server.port
: >"$log"
rm -f "$portfile"
"$bin/pru_server" --sqlite "$db" --address 127.0.0.1 --port 0 --port-file "$portfile" 2>>"$log" &
server=$!
stop_server() {
  if kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
trap stop_server EXIT

# Once it listens the server writes "address port" to the port file, whole.
address=""
port=""
for _ in $(seq 1 300); do
  if [ -s "$portfile" ]; then
    read -r address port <"$portfile"
    break
  fi
  if ! kill -0 "$server" 2>/dev/null; then
    echo "demo: o servidor de aplicação não iniciou:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: o servidor de aplicação não informou a porta a tempo" >&2
  exit 1
fi
echo "== servidor de aplicação em $address:$port (log: $log)"

# The host's settings of its own: a desktop's site file (/etc/xdg) and the
# user's remembered server neither steer the demonstration nor learn its port.
export XDG_CONFIG_HOME=$var/config XDG_CONFIG_DIRS=$var/config-site
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
# The demonstration password through the environment, never the command line.
export PRU_PASSWORD=senha
args=(--server "$address:$port" --operator SUPERVISOR --database "$db" --open PRU87000)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  png=$var/screenshots/PRU87000.png
  rm -f "$png"
  QT_QPA_PLATFORM=offscreen "$bin/pru_host" "${args[@]}" --screenshot "$png"
  if [ ! -s "$png" ]; then
    echo "demo: a imagem da tela não foi gravada" >&2
    exit 1
  fi
  echo "== sem tela disponível: imagem da tela \"Processos da Unidade\" gravada em $png"
else
  "$bin/pru_host" "${args[@]}"
fi
