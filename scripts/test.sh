#!/usr/bin/env bash
# Builds vendral and runs every test; each stage prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stage.sh
stage "set-up" bash scripts/setup.sh
stage "Octave extras" bash scripts/setup_octave_extras.sh
stage "Release build" bash scripts/build.sh
stage "Release tests (ctest)" ctest --test-dir build --output-on-failure -j "$(nproc)"
stage "Python package and tests" bash scripts/test_python.sh  # installed into .venv/, then pytest
stage "Windows DLLs" bash scripts/test_windows.sh
stage "reliability stages" bash scripts/reliability.sh  # sanitizers, fuzzing, valgrind, mutants
