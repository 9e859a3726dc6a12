#!/usr/bin/env bash
# The quick start on a new machine: runs `bash scripts/demo.sh` and then
# `bash scripts/test.sh`, as root, in a fresh minimal Debian 12 root (see
# scripts/fresh_root_base.sh) holding a clone of this repository's HEAD, so
# the set-up scripts must install everything the demo and the tests use.
# Fails when either fails, when the demo prints an "error:" line, or when any
# Octave run ends with Octave's exit error. Logs go to build-fresh-root/.
# Downloaded packages are kept in CACHE_DIR/apt-archives between runs; the
# root itself is unmounted and removed however the run ends.
# Usage: bash scripts/fresh_root.sh [CACHE_DIR]   (as root; default /var/cache/vendral-fresh-root)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cache_dir="${1:-/var/cache/vendral-fresh-root}"
[ "$(id -u)" -eq 0 ] || { echo "fresh_root.sh: needs root (chroot, mounts)" >&2; exit 1; }

# One run at a time: runs share the package cache (and apt's lock in it).
mkdir -p "$cache_dir"
exec 9>"$cache_dir/run.lock"
flock -n 9 || { echo "fresh root: waiting for another run to finish"; flock 9; }

stage_started=$SECONDS
logs="$repo/build-fresh-root"
rm -rf "$logs"
mkdir -p "$logs" "$cache_dir/apt-archives"
base=$(bash "$repo/scripts/fresh_root_base.sh" "$cache_dir")
root=$(mktemp -d /var/tmp/vendral-fresh-root.XXXXXX)

# Ends what still runs inside the root (a wine server, a left-over Octave),
# unmounts everything below it, and removes it only when nothing is mounted.
still_mounted() { awk -v root="$root" '$5 == root || index($5, root "/") == 1' /proc/self/mountinfo | grep -q .; }
cleanup() {
  local status=$? proc_dir link
  for proc_dir in /proc/[0-9]*; do
    link=$(readlink "$proc_dir/root" 2>/dev/null) || continue
    case "$link" in "$root" | "$root"/*) kill -KILL "${proc_dir#/proc/}" 2>/dev/null || true ;; esac
  done
  if still_mounted; then
    umount -R "$root" 2>/dev/null || { sleep 2; umount -R "$root" 2>/dev/null; } || umount -R -l "$root" || true
  fi
  if still_mounted; then
    echo "fresh root: $root is still mounted; left in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
  echo "fresh root: stage took $((SECONDS - stage_started)) s in all"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

tar --numeric-owner --xattrs --xattrs-include='*' -xpf "$base" -C "$root"
# The root is a mount point of its own, so that unshare (the cluster test) can
# make it private; /dev is a slave copy, so unmounting it leaves the host's alone.
mount --bind "$root" "$root"
mount --make-private "$root"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mount --bind "$cache_dir/apt-archives" "$root/var/cache/apt/archives"
rm -f "$root/etc/resolv.conf"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service may start inside the root while packages install.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

# A clone of the commit under test (HEAD, also when detached).
clone=/root/vendral
git init --quiet "$root$clone"
git -C "$root$clone" fetch --quiet --no-tags "$repo" HEAD
git -C "$root$clone" checkout --quiet --detach FETCH_HEAD
echo "fresh root: $root, Debian $(cat "$root/etc/debian_version"), vendral at $(git -C "$root$clone" rev-parse --short HEAD)"

in_root() {  # log name, time limit, command: runs in the clone as a new user's shell would
  local started=$SECONDS status=0
  echo "== fresh root: $3"
  timeout --kill-after=30 "$2" chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd $clone && $3" </dev/null 9>&- 2>&1 | tee "$logs/$1.log" || status=$?
  echo "fresh root: '$3' took $((SECONDS - started)) s (exit $status)"
  return "$status"
}

packages() { chroot "$root" dpkg-query -W -f '${Package}:${Architecture}\n' | sort; }
packages >"$logs/packages-base.txt"

in_root demo 1800 "bash scripts/demo.sh" || { echo "FAILED: scripts/demo.sh in the fresh root" >&2; exit 1; }
packages >"$logs/packages-demo.txt"
if grep -n 'error:' "$logs/demo.log"; then
  echo "FAILED: the demo printed an error line (above)" >&2
  exit 1
fi
in_root test 3600 "bash scripts/test.sh" || { echo "FAILED: scripts/test.sh in the fresh root" >&2; exit 1; }
if grep -n 'error: ignoring const execution_exception' "$logs/test.log"; then
  echo "FAILED: an Octave run of the tests ended with Octave's exit error (above)" >&2
  exit 1
fi

# The cluster test needs network namespaces; say so when the root could not give them.
cluster_log="$root$clone/build/Testing/Temporary/LastTest.log"
if grep -q "octave_parallel_cluster skipped:" "$cluster_log"; then
  echo "fresh root: the cluster test did not run: $(grep -o 'octave_parallel_cluster skipped: .*' "$cluster_log" | head -n 1)"
else
  grep -q "octave_parallel_cluster: servers stopped" "$cluster_log" ||
    { echo "FAILED: no result of the cluster test in $cluster_log" >&2; exit 1; }
  echo "fresh root: the cluster test ran and passed"
fi
packages >"$logs/packages-test.txt"
added() { comm -13 "$logs/packages-$1.txt" "$logs/packages-$2.txt" | wc -l; }
echo "fresh root: the demo added $(added base demo) packages to the $(wc -l <"$logs/packages-base.txt") of the base," \
  "the tests $(added demo test) more; asked for by name:"
grep -h '^Installing: ' "$logs/demo.log" "$logs/test.log" | sed 's/^/  /'
chroot "$root" apt-get autoclean -qq  # keeps the package cache to current versions
echo "fresh root: demo and tests passed"
