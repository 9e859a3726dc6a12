#!/usr/bin/env bash
# Builds vendral and classifies the Iris data in Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
octave-cli --no-gui --norc --quiet \
  --eval "build_dir = 'build'; iris_csv = 'data/iris.csv'; source('octave/iris_demo.m')" </dev/null
