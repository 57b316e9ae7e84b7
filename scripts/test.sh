#!/usr/bin/env bash
# Runs every test on Linux, then proves that everything still compiles for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure --timeout 300 -j"$(nproc)")
scripts/test-sanitizers.sh
scripts/test-fuzz.sh

echo "Tests de concurrence sous ThreadSanitizer (build-tsan)..."
cmake -S . -B build-tsan -DZIRVO_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan --target ZirvoTests -j"$(nproc)"
LC_ALL=fr_FR.UTF-8 TSAN_OPTIONS="halt_on_error=1" \
  build-tsan/tests/ZirvoTests --gtest_filter='DatabaseConcurrency.*:*ServiceConcurrency*'

echo "Compilation croisée pour Windows (mingw-w64)..."
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j"$(nproc)"
echo "Compilation Windows réussie : build-win/ZirvoSrv.exe"
(cd build && ZIRVO_WINDOWS_CHECKS=1 ctest -L windows --verbose)
scripts/check-format.sh
scripts/check-tidy.sh
