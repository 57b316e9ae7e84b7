#!/usr/bin/env bash
# Builds the Windows distribution in dist/windows/: ZirvoSrv.exe cross-built with
# mingw-w64, OpenSSL 3 cross-built from Debian's source package (its DLLs under their
# own names) and the operator's text LISEZMOI.txt (Windows-1252, CR LF).
#
# The OpenSSL build is kept by version in ZIRVOSRV_OPENSSL_CACHE (default
# /var/cache/zirvosrv-openssl), so later runs only copy it.
set -euo pipefail
cd "$(dirname "$0")/.."

cache_root=${ZIRVOSRV_OPENSSL_CACHE:-/var/cache/zirvosrv-openssl}
dist=dist/windows

openssl_source_version() {
  apt-cache showsrc openssl 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1
}

# Debian's source packages: the same archives as the binary packages, as deb-src.
ensure_source_index() {
  local list=/etc/apt/sources.list.d/zirvosrv-deb-src.sources
  if [ -n "$(openssl_source_version)" ]; then return; fi
  if [ ! -f "$list" ]; then
    cat >"$list" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  fi
  apt-get update -q >/dev/null
}

build_openssl() {
  local version=$1 target=$2 work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  echo "Compilation croisée d'OpenSSL $version pour Windows (quelques minutes, une seule fois)..."
  # Only the upstream tarball is needed; "apt-get source" as root warns that it cannot
  # drop its rights to the _apt user, which is harmless here.
  (cd "$work" && apt-get source --download-only -q "openssl=$version" >/dev/null 2>&1) || true
  local tarball
  tarball=$(ls "$work"/openssl_*.orig.tar.* 2>/dev/null | head -n 1)
  if [ -z "$tarball" ]; then
    echo "Impossible de télécharger les sources d'OpenSSL $version (apt-get source openssl)." >&2
    exit 1
  fi
  tar -xf "$tarball" -C "$work"
  local tree
  tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -n 1)
  (
    cd "$tree"
    # The configuration file is never read by itself: its built-in folder (OPENSSLDIR,
    # "/usr/local/ssl", that is C:\usr\local\ssl) may be created by any user of the
    # machine, and a file there would be read by a service running with high rights.
    ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- shared no-asm no-tests \
      no-autoload-config >"$work/configure.log" 2>&1
    make -j"$(nproc)" build_libs >"$work/make.log" 2>&1
  ) || {
    tail -n 30 "$work/make.log" "$work/configure.log" 2>/dev/null >&2
    exit 1
  }
  mkdir -p "$target.tmp"
  cp "$tree/libcrypto-3-x64.dll" "$tree/libssl-3-x64.dll" "$tree/LICENSE.txt" "$target.tmp/"
  x86_64-w64-mingw32-strip "$target.tmp/"*.dll
  rm -rf "$target"
  mv "$target.tmp" "$target"
}

ensure_source_index
version=$(openssl_source_version)
if [ -z "$version" ]; then
  echo "Les sources Debian d'OpenSSL sont introuvables (entrée deb-src ?)." >&2
  exit 1
fi
openssl_dir=$cache_root/$version
[ -f "$openssl_dir/libssl-3-x64.dll" ] || build_openssl "$version" "$openssl_dir"

echo "Compilation croisée de ZirvoSrv.exe..."
if [ ! -f build-win/CMakeCache.txt ]; then
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build build-win -j"$(nproc)" --target ZirvoSrv >/dev/null

rm -rf "$dist"
mkdir -p "$dist"
cp build-win/ZirvoSrv.exe "$dist/"
x86_64-w64-mingw32-strip "$dist/ZirvoSrv.exe"
cp "$openssl_dir/libcrypto-3-x64.dll" "$openssl_dir/libssl-3-x64.dll" "$dist/"
cp "$openssl_dir/LICENSE.txt" "$dist/LICENSE-OpenSSL.txt"
# The operator's text is kept in UTF-8 with LF in the repository; Windows editors of the
# machines it goes to expect their ANSI code page and CR LF.
iconv -f UTF-8 -t WINDOWS-1252 packaging/windows/LISEZMOI.txt | sed 's/$/\r/' >"$dist/LISEZMOI.txt"
echo "Distribution Windows prête dans $dist/ (OpenSSL $version) :"
ls -l "$dist"

# The Windows Installer package of the same files, with the guide as a web page.
scripts/package-msi.sh
