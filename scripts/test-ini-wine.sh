#!/usr/bin/env bash
# Under Wine, compares the settings engine of the Windows build (build-win/) with the
# Windows private-profile functions, case by case (tests/windows/IniCompare.cpp). Runs in
# a fresh, temporary Wine prefix of its own under a French locale (ANSI code page
# Windows-1252), as scripts/test-windows.sh does, but as an ordinary user (below).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build-win/tests/windows/IniCompare.exe ] ||
  cmake --build build-win --target IniCompare -j"$(nproc)"

work=$(mktemp -d /tmp/zirvo-wine.XXXXXX)
cp build-win/tests/windows/IniCompare.exe "$work/"
# Root writes through a read-only mark under Wine, where Windows refuses: run as an
# ordinary user so that the read-only case compares like with like.
run=()
if [ "$(id -u)" = 0 ]; then
  chown -R nobody:nogroup "$work"
  run=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
environment=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$work" WINEPREFIX="$work/prefix"
  WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=fr_FR.UTF-8
  LANG=fr_FR.UTF-8)
cleanup() {
  timeout 30 "${run[@]}" "${environment[@]}" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "Moteur de paramètres comparé à GetPrivateProfileString/WritePrivateProfileString (Wine)..."
# The program prints Windows-1252, as on the French consoles it stands for.
timeout 600 "${run[@]}" "${environment[@]}" wine "$work/IniCompare.exe" </dev/null 2>/dev/null |
  iconv -f CP1252 -t UTF-8
