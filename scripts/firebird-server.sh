#!/usr/bin/env bash
# Throwaway Firebird server on a loopback port for the tests, with its own
# configuration, security database and lock area, so it never touches (nor
# is disturbed by) a system server. Runs as the `firebird` user; the lookup
# database it creates belongs to that user.
#   firebird-server.sh start DIR PORT   -> prints the connection options to use
#   firebird-server.sh stop DIR
set -euo pipefail
cmd=${1:-}; dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start DIR PORT | stop DIR" >&2; exit 2; }

FBROOT=$(dirname "$(ls /usr/lib/*/firebird/3.0/firebird.msg 2>/dev/null | head -1)")
SYSDBA_PASSWORD=masterkey
fbenv() {
  env FIREBIRD="$dir/conf" FIREBIRD_MSG="$FBROOT" FIREBIRD_LOCK="$dir/lock" FIREBIRD_TMP="$dir/tmp" "$@"
}

stop_server() {
  if [ -f "$dir/firebird.pid" ]; then
    pid=$(cat "$dir/firebird.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
}

case "$cmd" in
  start)
    port=${3:?port}
    [ -n "$FBROOT" ] && [ -x /usr/sbin/firebird ] || { echo "Firebird server not installed" >&2; exit 3; }
    stop_server 2>/dev/null || true
    # Another server on the port would answer in place of ours.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "port $port is already in use" >&2; exit 1
    fi
    rm -rf "$dir"; mkdir -p "$dir/conf" "$dir/lock" "$dir/tmp"
    cp /etc/firebird/3.0/plugins.conf /etc/firebird/3.0/fbintl.conf "$dir/conf/"
    cat >"$dir/conf/firebird.conf" <<CONF
RemoteServicePort = $port
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $dir/security3.fdb
ServerMode = Super
UdfAccess = None
CONF
    cat >"$dir/conf/databases.conf" <<CONF
security.db = $dir/security3.fdb
{
	RemoteAccess = false
}
CONF
    # Private security database holding SYSDBA with a known password.
    (
      cd "$dir"
      echo "create database '$dir/security3.fdb';" | fbenv isql-fb -q
      fbenv isql-fb -q -user SYSDBA -i "$(ls /usr/share/firebird/3.0/security.sql)" "$dir/security3.fdb"
      echo "create or alter user SYSDBA password '$SYSDBA_PASSWORD';" | fbenv isql-fb -q -user SYSDBA "$dir/security3.fdb"
    ) >"$dir/setup.log" 2>&1 || { cat "$dir/setup.log" >&2; exit 1; }
    [ "$(id -u)" -eq 0 ] && chown -R firebird:firebird "$dir"
    chmod 770 "$dir"

    # The server records its own pid (exec keeps it), in a session of its own
    # so that a terminal's signals do not reach it.
    run=(sh -c 'echo $$ >"$1/firebird.pid"; exec env FIREBIRD="$1/conf" FIREBIRD_MSG="$2" FIREBIRD_LOCK="$1/lock" FIREBIRD_TMP="$1/tmp" /usr/sbin/firebird' sh "$dir" "$FBROOT")
    if [ "$(id -u)" -eq 0 ]; then run=(runuser -u firebird -- "${run[@]}"); fi
    setsid "${run[@]}" >"$dir/server.log" 2>&1 </dev/null &
    # Wait until it accepts connections.
    up=0
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then up=1; break; fi
      sleep 0.1
    done
    [ "$up" = 1 ] || { echo "Firebird did not start on port $port" >&2; cat "$dir/server.log" >&2; stop_server; exit 1; }

    # The lookup database: tables of the InterBase dialect and the procedure
    # PARAM, through which the lookup texts take their parameters. Codes are
    # CHAR as in the old InterBase schemas, so values come back blank-padded.
    fbenv isql-fb -q -user SYSDBA -password "$SYSDBA_PASSWORD" >"$dir/schema.log" 2>&1 <<SQL || { cat "$dir/schema.log" >&2; stop_server; exit 1; }
SET SQL DIALECT 3;
CREATE DATABASE '127.0.0.1/$port:$dir/lookups.fdb' USER 'SYSDBA' PASSWORD '$SYSDBA_PASSWORD' DEFAULT CHARACTER SET UTF8;
CREATE TABLE PERIENTR (
  CDPERIENTR CHAR(2) NOT NULL PRIMARY KEY,
  NMPERIENTR VARCHAR(20) NOT NULL,
  IDTIPODIA CHAR(1) NOT NULL
);
CREATE TABLE OPERADOR (
  CDOPERADOR CHAR(12) NOT NULL PRIMARY KEY,
  NMOPERADOR VARCHAR(40) NOT NULL
);
CREATE TABLE GRUPOPER (
  CDGRUPOPER CHAR(2) NOT NULL PRIMARY KEY,
  DSGRUPOPER CHAR(30) NOT NULL
);
SET TERM ^ ;
CREATE PROCEDURE PARAM (V VARCHAR(100)) RETURNS (PARAM VARCHAR(100)) AS
BEGIN
  PARAM = :V;
  SUSPEND;
END^
SET TERM ; ^
COMMIT;
SQL
    echo "host=127.0.0.1 port=$port user=SYSDBA password=$SYSDBA_PASSWORD database=$dir/lookups.fdb"
    ;;
  stop)
    stop_server
    rm -rf "$dir"
    ;;
  *) echo "usage: $0 start DIR PORT | stop DIR" >&2; exit 2 ;;
esac
