#!/usr/bin/env bash
# Builds the Windows distribution in dist/windows/: ZirvoSrv.exe cross-built with
# mingw-w64, OpenSSL 3 cross-built from Debian's source package (its DLLs under their
# own names) and the operator's text LISEZMOI.txt (Windows-1252, CR LF).
#
# The OpenSSL build is kept by version and by a short tag of its configure options in
# ZIRVOSRV_OPENSSL_CACHE (default /var/cache/zirvosrv-openssl), so later runs only copy it
# and a build made with other options is never reused.
set -euo pipefail
cd "$(dirname "$0")/.."

cache_root=${ZIRVOSRV_OPENSSL_CACHE:-/var/cache/zirvosrv-openssl}
dist=dist/windows

# Every folder OpenSSL may read by itself (configuration, engines, provider modules) is
# compiled into the DLLs. Left to their defaults they are "/usr/local/...", which Windows
# resolves on the current drive, where any user may create folders; under Common Files only
# administrators may write. The service never reads a configuration file (it initialises the
# library without one), but a user who brings other tools keeps that protection too.
openssl_prefix="C:/Program Files/Common Files/ZirvoSrv/OpenSSL"
openssl_options=(mingw64 --cross-compile-prefix=x86_64-w64-mingw32- shared no-asm no-tests
  no-autoload-config "--prefix=$openssl_prefix" --openssldir=ssl)
openssl_tag=$(printf '%s\n' "${openssl_options[@]}" | sha256sum | cut -c1-8)

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
    # A relative --openssldir is taken under the prefix; an absolute "C:/..." one is not
    # recognised as absolute by Configure on Linux. The spaces stay inside the quoted -D
    # definitions of the makefile.
    ./Configure "${openssl_options[@]}" >"$work/configure.log" 2>&1
    # Only the two DLLs: "build_libs" would compile every file a second time for the
    # static libraries, which nothing here uses.
    { make -j"$(nproc)" build_generated && make -j"$(nproc)" libcrypto-3-x64.dll libssl-3-x64.dll; } \
      >"$work/make.log" 2>&1
  ) || {
    tail -n 30 "$work/make.log" "$work/configure.log" 2>/dev/null >&2
    exit 1
  }
  # The folders really compiled in, as OpenSSL_version(OPENSSL_DIR) reports them.
  # (grep reads everything: with -q it would stop strings early, which pipefail reports.)
  if ! strings "$tree/libcrypto-3-x64.dll" | grep -xF "OPENSSLDIR: \"$openssl_prefix/ssl\"" >/dev/null; then
    echo "OpenSSL n'a pas pris le dossier de configuration $openssl_prefix/ssl." >&2
    exit 1
  fi
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
openssl_dir=$cache_root/$version-$openssl_tag
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
