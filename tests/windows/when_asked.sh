#!/usr/bin/env bash
# The Windows checks cross-build, package and start Wine: a plain ctest run skips them, and
# the test command asks for them (ZIRVO_WINDOWS_CHECKS=1 ctest -L windows).
if [ "${ZIRVO_WINDOWS_CHECKS:-0}" != 1 ]; then
  echo "Vérifications Windows non demandées (ZIRVO_WINDOWS_CHECKS=1 ctest -L windows)."
  exit 77
fi
exec "$@"
