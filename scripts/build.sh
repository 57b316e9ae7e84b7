#!/usr/bin/env bash
# Builds ZirvoSrv for Linux into build/ (extra CMake options may follow).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$(nproc)"
