#!/usr/bin/env bash
# Runs the whole test suite once more on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/): memory faults, leaks and undefined behaviour
# that the plain build lets pass fail the run.
#
# Nothing is left out: every test of `ctest`, the program's own process tests included
# (they start the sanitized ZirvoSrv). Two tests at a time, so that the slower
# sanitized code keeps within the time-outs on a small CI machine.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "Tests sous AddressSanitizer et UndefinedBehaviorSanitizer (build-asan)..."
cmake -S . -B build-asan -DZIRVO_ASAN=ON -DZIRVO_UBSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >/dev/null
cmake --build build-asan --target ZirvoTests ZirvoSrv -j"$(nproc)"

# halt_on_error makes a report of either sanitizer end the process with an error, so the
# test that met it fails instead of only printing.
# The full unwinder at each allocation gives leak reports their whole stack, so the
# suppressions (leaks inside ODBC drivers, not ours) can match a named frame.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=0:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan-suppressions.txt:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
(cd build-asan && ctest --output-on-failure --timeout 300 -j2)
