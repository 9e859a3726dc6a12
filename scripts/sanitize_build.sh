#!/usr/bin/env bash
# Configures and builds build-sanitize/: the built-in host, the whole C++ test
# suite, the stress test and the libFuzzer target, all with clang under
# AddressSanitizer + UndefinedBehaviorSanitizer (any finding is fatal).
# vendral.mex is not built there: Octave itself is not sanitized.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-sanitize -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVENDRAL_SANITIZE=ON -DVENDRAL_FUZZ=ON -DVENDRAL_BUILD_OCTAVE_MODULE=OFF >/dev/null
cmake --build build-sanitize -j "$(nproc)"
