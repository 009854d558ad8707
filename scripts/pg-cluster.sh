#!/usr/bin/env bash
# Throwaway PostgreSQL cluster on a loopback port for the tests.
#   pg-cluster.sh start DIR PORT   -> prints the connection options to use
#   pg-cluster.sh stop DIR
set -euo pipefail
cmd=$1; dir=$2
PGBIN=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case "$cmd" in
  start)
    port=$3
    rm -rf "$dir"; mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
    as_pg "$PGBIN/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    as_pg "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null
    as_pg "$PGBIN/psql" -h 127.0.0.1 -p "$port" -U postgres -qc "CREATE DATABASE pru_test" >/dev/null
    echo "host=127.0.0.1 port=$port user=postgres dbname=pru_test"
    ;;
  stop)
    [ -d "$dir/data" ] && as_pg "$PGBIN/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  *) echo "usage: $0 start DIR PORT | stop DIR" >&2; exit 2 ;;
esac
