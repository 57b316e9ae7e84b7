#!/usr/bin/env bash
# Fails when a C++ file of src/, tests/ or bench/ differs from what .clang-format asks for,
# naming each difference, or includes a file through "..". The formatter's version is
# pinned: another version may lay out the same code differently.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=clang-format-14
if ! command -v "$formatter" >/dev/null; then
  echo "Vérification de la mise en forme impossible : $formatter est introuvable." >&2
  exit 1
fi

# Headers are named from a layer's root ("layer/File.h"): a path through ".." would walk
# around the include roots that keep each layer to the layers below it.
climbing=$(grep -rnE --include='*.cpp' --include='*.h' \
  '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]*/)?\.\./' src tests bench || true)
if [ -n "$climbing" ]; then
  echo "Inclusion par « ../ », qui sort de sa couche : nommez le fichier depuis la racine de sa couche (\"couche/Fichier.h\")." >&2
  echo "$climbing" >&2
  exit 1
fi

echo "Vérification de la mise en forme ($formatter)..."
find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 -r "$formatter" --style=file --dry-run -Werror
echo "Mise en forme conforme."
