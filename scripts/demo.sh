#!/usr/bin/env bash
# Builds vendral and classifies the Iris data in Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
# --no-history: Octave 7.3 saves its history at exit to ~/.local/share/octave/,
# and where that folder is missing ends with "error: ignoring const
# execution_exception& while preparing to exit".
octave-cli --no-gui --norc --quiet --no-history \
  --eval "build_dir = 'build'; iris_csv = 'data/iris.csv'; source('octave/iris_demo.m')" </dev/null
