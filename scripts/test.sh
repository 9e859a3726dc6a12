#!/usr/bin/env bash
# Builds vendral and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/setup_octave_extras.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
bash scripts/test_python.sh  # the Python package: installed into .venv/, then its tests
bash scripts/test_windows.sh
bash scripts/reliability.sh  # sanitizers, fuzzing, valgrind
