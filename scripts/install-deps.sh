#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and demonstrate ZirvoSrv.
# Safe to run again: it does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config python3 locales
  libgtest-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64 wixl msitools cmark-gfm
  clang-14 libclang-rt-14-dev
  libssl-dev openssl
  unixodbc unixodbc-dev libsqliteodbc odbc-mariadb tdsodbc mariadb-server mariadb-client
  squid apache2-utils iproute2 strace
  systemd
  clang-format-14 clang-tidy-14
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installation des paquets manquants : ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The log and settings texts are checked under a French locale as well as under C.
if ! locale -a 2>/dev/null | grep -qi '^fr_FR\.utf-\?8$'; then
  sed -i 's/^# *fr_FR.UTF-8 UTF-8/fr_FR.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^fr_FR.UTF-8 UTF-8' /etc/locale.gen || echo 'fr_FR.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
