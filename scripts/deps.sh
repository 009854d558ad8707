#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need.
# Non-interactive and idempotent: apt runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build clang libclang-rt-14-dev clang-format git
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-ibase libsqlite3-dev
  postgresql postgresql-client
  firebird3.0-server firebird3.0-utils
  fonts-dejavu-core poppler-utils
  libsodium-dev libssl-dev openssl libpq-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  # Firebird asks for the SYSDBA password at install: answer it beforehand.
  # The package's config script copies the first-install answer over
  # new_password, so that is the question to preseed.
  echo "firebird3.0-server shared/firebird/sysdba_password/first_install password masterkey" | $SUDO debconf-set-selections
  echo "firebird3.0-server shared/firebird/sysdba_password/new_password password masterkey" | $SUDO debconf-set-selections
  echo "firebird3.0-server shared/firebird/enabled boolean false" | $SUDO debconf-set-selections || true
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # The tests run their own Firebird server; the system one stays off.
  if [[ " ${missing[*]} " == *" firebird3.0-server "* ]]; then
    $SUDO invoke-rc.d firebird3.0 stop >/dev/null 2>&1 || true
    $SUDO systemctl disable --now firebird3.0 >/dev/null 2>&1 || $SUDO update-rc.d firebird3.0 disable >/dev/null 2>&1 || true
  fi
fi
