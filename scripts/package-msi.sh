#!/usr/bin/env bash
# Builds the Windows Installer package from the distribution in dist/windows/ (made by
# scripts/package-windows.sh, which calls this script last):
#
#   scripts/package-msi.sh [VERSION [OUTPUT]]
#
# VERSION defaults to the release number of CMakeLists.txt, OUTPUT to
# dist/windows/ZirvoSrv-<version>-x64.msi. The French guide goes into the distribution as
# guide-exploitation.html, made from docs/guide-exploitation.md.
set -euo pipefail
cd "$(dirname "$0")/.."

dist=dist/windows
release=$(sed -n 's/^project(ZirvoSrv VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
version=${1:-$release}
output=${2:-$dist/ZirvoSrv-$version-x64.msi}
# Windows Installer compares the first three fields, each a number (255, 255, 65535 at most).
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || ((BASH_REMATCH[1] > 255)) ||
  ((BASH_REMATCH[2] > 255)) || ((BASH_REMATCH[3] > 65535)); then
  echo "Numéro de version « $version » refusé : il faut trois nombres a.b.c (a et b ≤ 255," \
    "c ≤ 65535), par exemple 1.2.0." >&2
  exit 1
fi
for file in ZirvoSrv.exe libcrypto-3-x64.dll libssl-3-x64.dll LICENSE-OpenSSL.txt LISEZMOI.txt; do
  if [ ! -f "$dist/$file" ]; then
    echo "$dist/$file manque : lancez d'abord scripts/package-windows.sh." >&2
    exit 1
  fi
done

# The guide as a page a Windows administrator opens with a double-click (Debian's
# cmark-gfm: CommonMark, so code blocks inside list items stay blocks, and GitHub's tables).
{
  cat <<'HEAD'
<!DOCTYPE html>
<html lang="fr">
<head>
<meta charset="utf-8">
<title>ZirvoSrv — guide d'exploitation</title>
<style>
body { font-family: Segoe UI, Arial, sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
code, pre { font-family: Consolas, monospace; background: #f4f4f4; }
pre { padding: .6em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: .3em .5em; vertical-align: top; }
</style>
</head>
<body>
HEAD
  cmark-gfm -e table docs/guide-exploitation.md
  printf '</body>\n</html>\n'
} | sed 's/$/\r/' >"$dist/guide-exploitation.html"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
msi=$work/package.msi
wixl -a x64 -D Version="$version" -D SourceDir="$dist" \
  -o "$msi" packaging/windows/ZirvoSrv.wxs 2>"$work/wixl.log" || {
  cat "$work/wixl.log" >&2
  exit 1
}

# What wixl cannot write, added with msibuild (msitools).
q() { msibuild "$msi" -q "$1"; }
property() { msiinfo export "$msi" Property | tr -d '\r' | sed -n "s/^$1\t//p"; }
upgrade_code=$(property UpgradeCode)
# 1. The same version's detection inclusive at both ends (wixl leaves the maximum out).
q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'SAMEVERSIONDETECTED'"
q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`,
   \`ActionProperty\`) VALUES ('$upgrade_code', '$version', '$version', 770, 'SAMEVERSIONDETECTED')"
# 2. The properties an administrator gives on the command line reach the installation's
#    server side (with the ones wixl lists for the upgrade).
secure=$(property SecureCustomProperties)
q "DELETE FROM \`Property\` WHERE \`Property\` = 'SecureCustomProperties'"
q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties',
   '$secure;INSTALLDIR;SERVICEACCOUNT;SERVICEPASSWORD;STARTSERVICE')"
# 3. Recovery: the service manager restarts the service a minute after each failure (the
#    failure count is forgotten after a day). Windows Installer 5's own table and action,
#    after the service is registered and before it is started.
q "CREATE TABLE \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\` CHAR(72)
   NOT NULL, \`Name\` CHAR(255) NOT NULL, \`Event\` INT NOT NULL, \`ResetPeriod\` LONG,
   \`RebootMessage\` CHAR(255) LOCALIZABLE, \`Command\` CHAR(255), \`Actions\` CHAR(255),
   \`DelayActions\` CHAR(255), \`Component_\` CHAR(72) NOT NULL
   PRIMARY KEY \`MsiServiceConfigFailureActions\`)"
q "INSERT INTO \`MsiServiceConfigFailureActions\` (\`MsiServiceConfigFailureActions\`, \`Name\`,
   \`Event\`, \`ResetPeriod\`, \`Actions\`, \`DelayActions\`, \`Component_\`) VALUES
   ('ZirvoServiceRecovery', 'ZirvoService', 5, 86400, '1[~]1[~]1', '60000[~]60000[~]60000',
   'Program')"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES
   ('MsiConfigureServices', 'VersionNT >= 600', 5850)"

# 4. The previous version is removed inside the installation's transaction (wixl puts it
#    before): should the new one fail, Windows Installer puts the old one and its service
#    back instead of leaving nothing installed.
q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1501
   WHERE \`Action\` = 'RemoveExistingProducts'"

mkdir -p "$(dirname "$output")"
mv "$msi" "$output"
echo "Paquet Windows Installer prêt : $output"
