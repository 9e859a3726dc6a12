#!/usr/bin/env bash
# Large-input check in Octave (octave/large_input.m): N = 100,000 templates,
# P = 20,000 patterns, d = 8 by default; reports the time and the memory the
# call adds to Octave's, and fails when that exceeds twice the working copies
# plus the result (MEMORY_BOUND=report only reports it). Override the sizes
# with N=... P=... D=... KERNEL=... NORM=... .
# Usage: bash scripts/large_input.sh [BUILD_DIR]   (default: build, holding vendral.mex)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$(cd "${1:-$root/build}" && pwd)"
[ -f "$build_dir/vendral.mex" ] || { echo "no $build_dir/vendral.mex: run scripts/build.sh first" >&2; exit 1; }
enforce=true
[ "${MEMORY_BOUND:-enforce}" = report ] && enforce=false
settings="N = ${N:-100000}; P = ${P:-20000}; d = ${D:-8}; kernel_type = ${KERNEL:-0}; norm_type = ${NORM:-1};"
settings+=" enforce_memory_bound = $enforce;"
# --no-history: see scripts/demo.sh.
octave-cli --no-gui --norc --quiet --no-history \
  --eval "$settings build_dir = '$build_dir'; source('$root/octave/large_input.m')" </dev/null
