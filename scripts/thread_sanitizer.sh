#!/usr/bin/env bash
# Builds the C++ test binaries under ThreadSanitizer (clang 14, build-tsan/)
# and runs the tests that run the engine on several threads; the first race
# found is fatal. The tests: whole runs on two threads (EngineDifferential,
# EngineProgress, PrunedDifferential, PrunedChoice), the tree built on two and
# three (TemplateTree), whole calls at the default thread count (Module), the
# stress test's random calls, some long enough for two threads, with
# allocations refused (FaultInjection), and classifications from many threads
# at once (ModelConcurrency, wherever it lives: a pattern that matches nothing
# in a binary runs nothing there).
# Usage: bash scripts/thread_sanitizer.sh   (VENDRAL_TSAN_TESTS, a gtest filter, to change the tests)
set -euo pipefail
cd "$(dirname "$0")/.."
tests=${VENDRAL_TSAN_TESTS:-EngineDifferential.*:EngineProgress.*:PrunedDifferential.*:PrunedChoice.*:TemplateTree.*:Module.*:FaultInjection.*:ModelConcurrency.*}
binaries=(tests/vendral_unit_tests tests/vendral_engine_tests tests/vendral_pruned_tests tests/vendral_host_tests
          reliability/vendral_stress_tests)

started=$SECONDS
bash scripts/setup.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-tsan -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVENDRAL_TSAN=ON -DVENDRAL_BUILD_OCTAVE_MODULE=OFF >/dev/null
cmake --build build-tsan -j "$(nproc)" --target "${binaries[@]##*/}" >build-tsan/build.log 2>&1 ||
  { tail -n 60 build-tsan/build.log; echo "thread sanitizer: the build failed (log build-tsan/build.log)"; exit 1; }
echo "thread sanitizer: built in $((SECONDS - started)) s"

export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
# clang 14's runtime cannot map its shadow under the widest address
# randomisation of newer kernels; the tests run without it where that is so.
run=()
if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0)" -gt 28 ] && command -v setarch >/dev/null; then
  run=(setarch "$(uname -m)" -R)
fi
status=0
for binary in "${binaries[@]}"; do
  log=build-tsan/${binary##*/}.log
  if ! "${run[@]}" "build-tsan/$binary" --gtest_filter="$tests" --gtest_brief=1 >"$log" 2>&1; then
    status=1
    echo "thread sanitizer: ${binary##*/} FAILED (log $log):"
    # The race's summary and its two stacks, or the failing test.
    if grep -q '^WARNING: ThreadSanitizer' "$log"; then
      grep -A40 '^WARNING: ThreadSanitizer' "$log" | head -n 80
    else
      tail -n 40 "$log"
    fi
    grep -E '^SUMMARY: ThreadSanitizer|^\[  FAILED  \]' "$log" || true
  fi
  echo "thread sanitizer: ${binary##*/}: $(grep -E '^\[==========\] .* ran' "$log" | tail -n 1 | sed 's/^\[=*\] //')"
done
echo "thread sanitizer: $((SECONDS - started)) s in all"
exit "$status"
