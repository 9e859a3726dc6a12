#!/usr/bin/env bash
# Line coverage of host/ and classifier/ reached by the fuzz corpus: replays
# fuzz/corpus/ (and build-sanitize/fuzz-corpus/ when a fuzz run left one) in a
# clang source-coverage build, build-coverage/, and prints llvm-cov's report.
# Usage: bash scripts/fuzz_coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh clang-14 libclang-rt-14-dev llvm-14
cmake -S . -B build-coverage -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVENDRAL_COVERAGE=ON -DVENDRAL_FUZZ=ON -DVENDRAL_BUILD_OCTAVE_MODULE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-coverage -j "$(nproc)" --target vendral_fuzz_call >/dev/null
corpora=(fuzz/corpus)
[ -d build-sanitize/fuzz-corpus ] && corpora+=(build-sanitize/fuzz-corpus)
rm -f build-coverage/fuzz-*.profraw
LLVM_PROFILE_FILE="$PWD/build-coverage/fuzz-%p.profraw" build-coverage/fuzz/vendral_fuzz_call -runs=0 \
  "${corpora[@]}" >build-coverage/replay.log 2>&1
llvm-profdata-14 merge -sparse build-coverage/fuzz-*.profraw -o build-coverage/fuzz.profdata
sources=(host/*.cpp classifier/*.cpp)
llvm-cov-14 report build-coverage/fuzz/vendral_fuzz_call -instr-profile=build-coverage/fuzz.profdata \
  "${sources[@]}"
echo "replayed: ${corpora[*]} ($(grep -o 'files found' build-coverage/replay.log | wc -l) directories)"
