#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang and libFuzzer (build-fuzz/) and runs
# each for a fixed time (ZIRVO_FUZZ_SECONDS, 25 by default), starting from the seeds in
# tests/fuzz/corpus and from what earlier runs on this machine kept. An input that
# breaks a property, crashes or trips a sanitizer fails the run; it is kept in
# build-fuzz/findings/ to be replayed with `build-fuzz/tests/fuzz/<target> <file>`.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${ZIRVO_FUZZ_SECONDS:-25}"
targets=(SettingsTextFuzz HttpReplyFuzz UrlFuzz CookiesFuzz GatewayReplyFuzz UnscrambleFuzz)

echo "Fuzzing des lecteurs de données externes (build-fuzz, ${seconds} s par cible)..."
# Warnings are the GCC builds' job; clang may word others, which must not stop fuzzing.
CXX=clang++-14 cmake -S . -B build-fuzz -DZIRVO_FUZZ=ON -DZIRVO_BUILD_TESTS=OFF \
  -DZIRVO_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "${targets[@]}" -j"$(nproc)"

mkdir -p build-fuzz/findings
failed=0
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/${target}"
  mkdir -p "$corpus"
  log="build-fuzz/${target}.log"
  started=$(date +%s)
  if build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="build-fuzz/findings/${target}-" \
    "$corpus" "tests/fuzz/corpus/${target}" >"$log" 2>&1; then
    outcome="rien trouvé"
  else
    outcome="ÉCHEC"
    failed=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "${target} : $(($(date +%s) - started)) s, ${runs:-?} entrées essayées," \
    "$(find "$corpus" -type f | wc -l) dans le corpus : ${outcome}"
  if [ "$outcome" != "rien trouvé" ]; then tail -n 40 "$log"; fi
done
exit "$failed"
