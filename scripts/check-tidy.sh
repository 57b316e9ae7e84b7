#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy (bugprone and performance) over every
# .cpp file of src/ and tests/ that the Linux build compiles, from its
# compile_commands.json (scripts/build.sh makes it); fails on any finding. The version is
# pinned, as another may find other things in the same code.
set -euo pipefail
cd "$(dirname "$0")/.."

runner=run-clang-tidy-14
if ! command -v "$runner" >/dev/null || ! command -v clang-tidy-14 >/dev/null; then
  echo "Analyse clang-tidy impossible : clang-tidy-14 est introuvable." >&2
  exit 1
fi
if [ ! -f build/compile_commands.json ]; then
  echo "Analyse clang-tidy impossible : build/compile_commands.json manque (scripts/build.sh)." >&2
  exit 1
fi

echo "Analyse clang-tidy (bugprone, performance) de src/ et tests/..."
# The build's flags are GCC's: clang is told not to stop at the ones it does not know.
"$runner" -clang-tidy-binary clang-tidy-14 -p build -j"$(nproc)" -quiet \
  -extra-arg=-Wno-unknown-warning-option "$PWD/(src|tests)/.*\.cpp\$" >build/clang-tidy.log 2>&1 || {
  # The runner always colours clang-tidy's output: the colours go, each finding once.
  sed 's/\x1b\[[0-9;]*m//g' build/clang-tidy.log | grep -E ': (error|warning): ' | sort -u >&2 ||
    cat build/clang-tidy.log >&2
  echo "clang-tidy a des remarques (journal complet : build/clang-tidy.log)." >&2
  exit 1
}
echo "Analyse clang-tidy sans remarque."
