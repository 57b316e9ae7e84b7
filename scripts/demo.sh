#!/usr/bin/env bash
# Runs what ZirvoSrv can do so far on its built-in defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
echo "Mot de passe « exemple » sous forme brouillée (ZirvoSrv -scramble) :"
echo "exemple" | build/ZirvoSrv -scramble
echo
echo "Le service lui-même (cycle de mise à jour des statuts SMS) n'est pas encore en place."
