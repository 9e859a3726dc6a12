#!/usr/bin/env bash
# Checks that a module built for Octave or MATLAB on Linux exports mexFunction
# and no other name: two builds loaded into one process would otherwise bind
# to each other's functions, and the second would run the first one's code.
# Usage: check_module_exports.sh MODULE. Exits non-zero when the check fails.
set -uo pipefail
export LC_ALL=C  # the names sorted the same everywhere

module="$1"
if ! symbols="$(nm -D --defined-only "$module" 2>/dev/null)"; then
    echo "FAIL cannot read the dynamic symbols of $module"
    exit 1
fi
names="$(awk 'NF { print $NF }' <<<"$symbols" | sort -u)"
others="$(grep -vx mexFunction <<<"$names" | paste -sd ' ')"

failed=0
if ! grep -qx mexFunction <<<"$names"; then
    echo "FAIL $module does not export mexFunction"
    failed=1
fi
if [ -n "$others" ]; then
    echo "FAIL $module exports names besides mexFunction: $others"
    failed=1
fi
[ "$failed" -eq 0 ] && echo "ok   $module exports mexFunction alone"
exit "$failed"
