#!/usr/bin/env bash
# Installs what the Octave functions and their tests need beyond Octave:
# the parallel package (vendral_parallel); for pictures, gnuplot (octave-cli
# draws through it; any installed gnuplot will do, else the one without X),
# the font Octave renders text with and Ghostscript for its PNG and PDF output
# (Octave only recommends those two, and the set-up skips recommendations);
# and for the cluster test its namespace and process tools and the
# /etc/hosts it overlays (netbase; a minimal Debian root has none).
set -euo pipefail
cd "$(dirname "$0")/.."
extras=(octave-parallel fonts-freefont-otf ghostscript iproute2 util-linux procps netbase)
command -v gnuplot >/dev/null || extras+=(gnuplot-nox)
bash scripts/setup.sh "${extras[@]}"
