#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need.
# Non-interactive and idempotent: apt runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-ibase libsqlite3-dev
  postgresql postgresql-client
  firebird3.0-server firebird3.0-utils
  fonts-dejavu-core
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # Firebird asks for the SYSDBA password at install: answer it beforehand.
  echo "firebird3.0-server shared/firebird/sysdba_password/new_password password masterkey" | $SUDO debconf-set-selections
  echo "firebird3.0-server shared/firebird/enabled boolean false" | $SUDO debconf-set-selections || true
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
