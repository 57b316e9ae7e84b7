#!/usr/bin/env python3
"""Fails when a test of the build has no label or one that names no known need
(tests/TestLabels.cmake). Arguments: the ctest program and the build folder."""
import json
import subprocess
import sys

KNOWN = {"unit", "sqlite", "peer", "mariadb", "process", "windows"}

ctest, build = sys.argv[1], sys.argv[2]
listing = json.loads(subprocess.run([ctest, "--show-only=json-v1"], cwd=build, check=True,
                                    capture_output=True, text=True).stdout)
wrong = []
for test in listing["tests"]:
    labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
    if not labels or not set(labels) <= KNOWN:
        wrong.append("  %s : %s" % (test["name"], ", ".join(labels) or "aucune étiquette"))
if wrong:
    sys.exit("Tests sans étiquette connue (%s ; voir tests/TestLabels.cmake) :\n%s"
             % (", ".join(sorted(KNOWN)), "\n".join(wrong)))
print("%d tests, chacun avec ses étiquettes." % len(listing["tests"]))
