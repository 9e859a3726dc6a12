#!/usr/bin/env bash
# Fuzzes whole calls of the module through the built-in host under the
# sanitizers for SECONDS (default 120), starting from the committed seed
# corpus fuzz/corpus/. New inputs go to build-sanitize/fuzz-corpus/ (kept
# between runs); a failing input is written to build-sanitize/fuzz-artifacts/
# and the script fails. Extra arguments go to libFuzzer, e.g. -fork=2 for both cores.
# Usage: bash scripts/fuzz.sh [SECONDS] [libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-120}"
shift || true
bash scripts/sanitize_build.sh >/dev/null
mkdir -p build-sanitize/fuzz-corpus build-sanitize/fuzz-artifacts
log=build-sanitize/fuzz.log
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# -timeout: one call over 10 s counts as a hang; -rss_limit_mb: as a runaway allocation.
status=0
build-sanitize/fuzz/vendral_fuzz_call -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 -artifact_prefix=build-sanitize/fuzz-artifacts/ "$@" \
  build-sanitize/fuzz-corpus fuzz/corpus >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -60 "$log"
  echo "fuzz: FAILED (exit $status); inputs in build-sanitize/fuzz-artifacts/, log $log" >&2
  exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{s += $1} END {print s + 0}')
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | awk '{s += $1} END {print s + 0}')
if [ "$runs" = 0 ]; then  # -fork mode: no final statistics, only progress lines
  runs=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1 | sed -E 's/^#([0-9]+):.*/\1/' || true)
  runs=${runs:-0}
  rate=$(( runs / seconds ))
fi
coverage=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/\1/' || true)
echo "fuzz: ${runs} executions in ${seconds} s (${rate} exec/s), ${coverage}, no failure"
