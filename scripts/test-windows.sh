#!/usr/bin/env bash
# Checks the Windows distribution under Wine, as a Windows user would meet it: builds it
# with scripts/package-windows.sh, makes a fresh Wine prefix under a French locale and
# without a display, and runs tests/windows/wine_checks.py against dist/windows/ (the
# scrambling command, installation, the service manager's controls, one whole cycle on
# the embedded default beside the Linux program, the cycle without the OpenSSL DLLs, a
# start outside the manager, then the installer package: installation, upgrade, refusals,
# removal). Everything under Wine ends by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/package-windows.sh
cmake --build build-win --target ZirvoServiceControl PlantedLibrary >/dev/null
msi=$(ls dist/windows/ZirvoSrv-*-x64.msi)
# The Linux program gives the expected results for the same inputs.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ZirvoSrv >/dev/null

work=$(mktemp -d /tmp/zirvosrv-wine.XXXXXX)
gateway=""
trusted_gateway=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$gateway" ] && kill "$gateway" 2>/dev/null || true
  [ -n "$trusted_gateway" ] && kill "$trusted_gateway" 2>/dev/null || true
  # ZIRVO_WINE_KEEP=1 keeps the prefix, the logs and the databases for a closer look.
  if [ "${ZIRVO_WINE_KEEP:-0}" = 1 ]; then echo "Conservé : $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer: nothing here needs them, and they would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=fr_FR.UTF-8 LANG=fr_FR.UTF-8
# Wine's ODBC bridge hands the connections to the host's unixODBC; the service process,
# started by Wine's service manager, inherits this environment.
export ODBCINI="$work/odbc.ini"
cat >"$ODBCINI" <<INI
[QuenzarMySQLDB]
Driver=SQLite3
Database=$work/quenzar-mysql.db
INI

echo "Préfixe Wine neuf dans $WINEPREFIX..."
timeout 300 wineboot -i >/dev/null 2>&1
# The checks start once the boot session has ended: a program started while it ends may
# get a service manager of its own, which does not see the services the others install.
timeout 120 wineserver -w

# The SMS gateway stand-in of the demo, on loopback, with a fixed report date so that the
# Windows and the Linux cycles can be compared row by row.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost \
  -keyout "$work/gateway.key" -out "$work/gateway.pem" >/dev/null 2>&1
ZIRVO_GATEWAY_DATE="03/02/2025 14:05:09" python3 scripts/demo_gateway.py \
  "$work/gateway.pem" "$work/gateway.key" "$work/gateway.port" 1200 \
  cycle-2=UNDELIV cycle-3=QUEUE cycle-4=EXPIRED >/dev/null &
gateway=$!
for _ in $(seq 100); do [ -s "$work/gateway.port" ] && break; sleep 0.1; done
# A second one whose certificate for "localhost" a test root issued, for the check of the
# machine's ROOT store in strict mode.
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $ec -days 2 -subj "/CN=Zirvo test root" -keyout "$work/root.key" \
  -out "$work/root.pem" >/dev/null 2>&1
openssl x509 -in "$work/root.pem" -outform DER -out "$work/root.der"
openssl req $ec -subj /CN=localhost -keyout "$work/trusted.key" -out "$work/trusted.csr" \
  >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost\n' >"$work/trusted.ext"
openssl x509 -req -days 1 -in "$work/trusted.csr" -CA "$work/root.pem" -CAkey "$work/root.key" \
  -CAcreateserial -extfile "$work/trusted.ext" -out "$work/trusted.pem" >/dev/null 2>&1
python3 scripts/demo_gateway.py "$work/trusted.pem" "$work/trusted.key" \
  "$work/trusted-gateway.port" 900 >/dev/null &
trusted_gateway=$!
for _ in $(seq 100); do [ -s "$work/trusted-gateway.port" ] && break; sleep 0.1; done

timeout 1200 python3 tests/windows/wine_checks.py dist/windows build/ZirvoSrv \
  build-win/tests/windows/ZirvoServiceControl.exe "$work" "$msi"
