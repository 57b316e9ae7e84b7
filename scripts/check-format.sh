#!/usr/bin/env bash
# Fails when a C++ file of src/, tests/ or bench/ differs from what .clang-format asks for,
# naming each difference. The formatter's version is pinned: another version may lay out
# the same code differently.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format-14
if ! command -v "$formatter" >/dev/null; then
  echo "Vérification de la mise en forme impossible : $formatter est introuvable." >&2
  exit 1
fi

echo "Vérification de la mise en forme ($formatter)..."
find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 -r "$formatter" --style=file --dry-run -Werror
echo "Mise en forme conforme."
