#!/usr/bin/env bash
# Reliability stages of scripts/test.sh, after the Release build and its tests:
#   1. the whole C++ test suite (and the fault-injection stress test) under
#      AddressSanitizer + UndefinedBehaviorSanitizer, in build-sanitize/;
#   2. a bounded fuzz run (VENDRAL_FUZZ_SECONDS, default 120);
#   3. the Octave tests under valgrind memcheck (VENDRAL_VALGRIND=0 skips it);
#   4. the large-input check in Octave (100,000 x 20,000 x 8). Its memory bound
#      is reported, not enforced, until the working matrices stop taking one
#      host block per row (see docs/reliability.md); VENDRAL_LARGE_INPUT=0 skips it;
#   5. the mutation check of the fast path's bounds (scripts/check_mutants.sh):
#      every mutant must be killed by a test.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/sanitize_build.sh
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
bash scripts/fuzz.sh "${VENDRAL_FUZZ_SECONDS:-120}"
if [ "${VENDRAL_VALGRIND:-1}" != 0 ]; then
  bash scripts/setup.sh valgrind
  bash scripts/valgrind_octave.sh build
fi
if [ "${VENDRAL_LARGE_INPUT:-1}" != 0 ]; then
  bash scripts/large_input.sh build
fi
bash scripts/check_mutants.sh
echo "reliability stages: $(( $(date +%s) - start )) s"
