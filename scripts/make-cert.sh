#!/usr/bin/env bash
# Makes a self-signed certificate and key for one site's application server
# (installed by pru-server as pru-make-cert):
#   pru-make-cert HOST [DIR] [DAYS]
# writes DIR/pru-server.crt and DIR/pru-server.key (default DIR: .) and prints
# the certificate's SHA-256 fingerprint, which the host pins
# (--server-fingerprint) or, with the .crt as CA file, trusts (--server-ca).
# Run as root where the service's group pru exists, the key is root:pru 0640:
# the service reads it, nobody else does. Otherwise it is its maker's alone.
set -euo pipefail
host=${1:?"uso: $(basename "$0") MAQUINA [PASTA] [DIAS]"}
dir=${2:-.}
days=${3:-825}
mkdir -p "$dir"
san="DNS:$host,DNS:localhost,IP:127.0.0.1"
if [[ $host =~ ^[0-9.]+$ || $host == *:* ]]; then
  san="IP:$host,DNS:localhost,IP:127.0.0.1"
fi
umask 077
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days "$days" \
  -subj "/CN=$host/O=Processos da Unidade" -addext "subjectAltName=$san" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -keyout "$dir/pru-server.key" -out "$dir/pru-server.crt" 2>/dev/null
chmod 644 "$dir/pru-server.crt"
if [ "$(id -u)" -eq 0 ] && getent group pru >/dev/null; then
  chown root:pru "$dir/pru-server.key"
  chmod 0640 "$dir/pru-server.key"
fi
fingerprint=$(openssl x509 -in "$dir/pru-server.crt" -noout -fingerprint -sha256 | cut -d= -f2)
echo "$dir/pru-server.crt $dir/pru-server.key $fingerprint"
