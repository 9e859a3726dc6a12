#!/usr/bin/env bash
# Runs vendral_parallel against a cluster of two Octave parallel servers
# (pserver) on this machine. Each server lives in a network namespace of its
# own, joined to the client by a private bridge: nothing is reachable from
# outside, and the pid namespace ends every process with the test.
# Usage: run_cluster_test.sh <build dir> <source dir>
# Exit status 77 (skipped) where namespaces or the server are not available.
set -euo pipefail
build_dir=$(realpath "$1")
source_dir=$(realpath "$2")
here=$(dirname "$(realpath "$0")")

skip() { echo "octave_parallel_cluster skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in unshare ip setpriv octave-cli; do
  command -v "$tool" >/dev/null || skip "$tool not found"
done
[ -x /usr/libexec/octave-pserver ] || skip "octave-pserver not found (Debian package octave-parallel)"
unshare --net --uts --pid --fork --mount true 2>/dev/null || skip "unshare is not permitted here"
id nobody >/dev/null 2>&1 || skip "no user nobody to run the servers (they refuse root)"

tarball=$(ls "$build_dir"/vendral-*.tar.gz 2>/dev/null | head -n 1)
[ -n "$tarball" ] || { echo "FAILED: no package in $build_dir (cmake --build build --target octave-package)"; exit 1; }

exec timeout --kill-after=10 280 unshare --kill-child --net --uts --pid --fork --mount-proc --mount \
  bash "$here/lab.sh" "$build_dir" "$source_dir" "$tarball"
