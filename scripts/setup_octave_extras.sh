#!/usr/bin/env bash
# Installs what the Octave functions and their tests need beyond Octave:
# the parallel package (vendral_parallel), gnuplot for headless pictures
# (octave-cli draws through gnuplot; any installed gnuplot will do, else the
# one without X), and the namespace tools of the cluster test.
set -euo pipefail
cd "$(dirname "$0")/.."
extras=(octave-parallel iproute2 util-linux)
command -v gnuplot >/dev/null || extras+=(gnuplot-nox)
bash scripts/setup.sh "${extras[@]}"
