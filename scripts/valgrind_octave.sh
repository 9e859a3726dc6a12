#!/usr/bin/env bash
# Runs mid-sized calls (octave/memcheck_workout.m: engine threads, every
# kernel and distance regime, errors) and then the Octave tests
# (octave/test_vendral.m) in one octave-cli under valgrind memcheck, and
# fails on any invalid access, uninitialised use or bad free whose stack
# passes through the module, and on any leak the module caused. Octave's own
# findings (leaks at exit, memory of its mx* query functions) are counted and
# shown but do not fail the run.
# Usage: bash scripts/valgrind_octave.sh [BUILD_DIR]   (default: build, holding vendral.mex)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$(cd "${1:-$root/build}" && pwd)"
cd "$root"
[ -f "$build_dir/vendral.mex" ] || { echo "no $build_dir/vendral.mex: run scripts/build.sh first" >&2; exit 1; }
command -v valgrind >/dev/null || bash scripts/setup.sh valgrind

work="$build_dir/valgrind"
mkdir -p "$work"
# Stand-in for a start-up timer valgrind may reject (see the source).
g++ -shared -fPIC -O2 -o "$work/hwy_timer_standin.so" reliability/valgrind/hwy_timer_standin.cpp
log="$work/memcheck.log"
output="$work/octave_output.txt"

# --keep-debuginfo: Octave unloads the module before the leak report; without
# it the module's frames would show as ??? and no leak could be traced to it.
# --no-history: see scripts/demo.sh.
start=$(date +%s)
LD_PRELOAD="$work/hwy_timer_standin.so" valgrind --tool=memcheck --leak-check=full \
  --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
  --keep-debuginfo=yes --num-callers=60 --error-limit=no --track-origins=yes --log-file="$log" \
  octave-cli --no-gui --norc --quiet --no-history \
  --eval "build_dir = '$build_dir'; source('$PWD/octave/memcheck_workout.m'); source('$PWD/octave/test_vendral.m')" \
  </dev/null >"$output" 2>&1 ||
  { cat "$output"; echo "octave-cli failed under valgrind (log: $log)" >&2; exit 1; }
seconds=$(( $(date +%s) - start ))

cat "$output"
if grep -q "FAILED" "$output" || ! grep -q "^memcheck workout done$" "$output" ||
   ! grep -Eq "^[0-9]+ passed, 0 failed$" "$output"; then
  echo "the Octave tests failed under valgrind" >&2
  exit 1
fi

# One record per blank-line-separated block of the log. A frame belongs to the
# module when it names vendral.mex or one of the module's functions. A leak is
# the module's unless the function the module called is an Octave query
# (memory Octave keeps for itself, such as a dimension vector); allocating
# entry points (mxCalloc, mxCreate*, ...) and malloc/new count as the module's.
awk -v module_re='vendral\\.mex|vendral::|mexFunction|classify_patterns|mxArray[12]D_to_cArray|cArray1D_to_mxArray' \
    -v alloc_re='mxCalloc|mxMalloc|mxRealloc|mxCreate|mxDuplicate|malloc|calloc|realloc|operator new' '
  function flush(   i, first, callee, kind, module) {
    if (n == 0) return
    kind = ""
    if (lines[1] ~ /are (definitely|indirectly|possibly) lost/) kind = "leak"
    else if (lines[1] ~ /Invalid (read|write|free)|uninitialised|Conditional jump|Mismatched free|overlap|Syscall param|Argument .* of function/) kind = "error"
    if (kind == "") { n = 0; return }
    first = 0
    for (i = 1; i <= n; i++) if (lines[i] ~ /^ +(at|by) 0x/ && lines[i] ~ module_re) { first = i; break }
    if (first == 0) { if (kind == "leak") octave_leaks++; else octave_errors++; n = 0; return }
    module = 1
    if (kind == "leak") {
      callee = lines[first - 1]
      if (callee ~ /liboct/ && callee !~ alloc_re) { module = 0; host_kept++ }
    }
    if (module) {
      if (kind == "leak") module_leaks++; else module_errors++
      print "---- module " kind ":"; for (i = 1; i <= n; i++) print lines[i]
    } else {
      print "---- kept by Octave (not the module): " lines[1]
    }
    n = 0
  }
  { sub(/^==[0-9]+== ?/, "") }
  /^$/ { flush(); next }
  { lines[++n] = $0 }
  /ERROR SUMMARY/ { summary = $0 }
  /definitely lost:|indirectly lost:|possibly lost:/ { sub(/^ +/, ""); totals = totals "\n  " $0 }
  END {
    flush()
    printf "valgrind: %s%s\n", summary, totals
    printf "valgrind: module errors %d, module leaks %d; Octave: %d errors, %d leak records, %d blocks its query functions keep\n", \
      module_errors, module_leaks, octave_errors, octave_leaks, host_kept
    exit (module_errors + module_leaks > 0)
  }' "$log" || { echo "valgrind found faults of the module (log: $log)" >&2; exit 1; }
echo "valgrind: workout and Octave tests ran in ${seconds} s under memcheck (log: $log)"
