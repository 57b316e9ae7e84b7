#!/usr/bin/env bash
# Runs every test on Linux, then proves that everything still compiles for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure --timeout 300 -j"$(nproc)")

echo "Compilation croisée pour Windows (mingw-w64)..."
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j"$(nproc)"
echo "Compilation Windows réussie : build-win/ZirvoSrv.exe"
