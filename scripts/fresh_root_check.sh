#!/usr/bin/env bash
# Tells whether scripts/fresh_root.sh can run here, before it starts: root,
# the tools it calls, mounts (an unprivileged container refuses them), a way
# to make the base root (a cached tarball, or mmdebstrap and Debian's mirror),
# Debian's mirror from inside the root, and room for the root. Exits 0 when it
# can; otherwise prints the first reason on stdout and exits 1.
# Usage: bash scripts/fresh_root_check.sh [CACHE_DIR]   (default /var/cache/vendral-fresh-root)
set -uo pipefail
cache_dir="${1:-/var/cache/vendral-fresh-root}"
max_age_days="${MAX_AGE_DAYS:-7}"
mirror=deb.debian.org
no() { echo "$*"; exit 1; }

[ "$(id -u)" -eq 0 ] || no "not root (the root needs chroot and mounts)"
for tool in chroot mount umount tar git flock timeout; do
  command -v "$tool" >/dev/null 2>&1 || no "$tool is missing"
done

# A bind mount in a mount namespace of its own leaves the machine's alone.
probe=$(mktemp -d) || no "no temporary folder"
if command -v unshare >/dev/null 2>&1; then
  unshare --mount sh -c "mount --bind '$probe' '$probe'" 2>/dev/null
else
  mount --bind "$probe" "$probe" 2>/dev/null && umount "$probe"
fi
mounted=$?
rmdir "$probe"
[ "$mounted" -eq 0 ] || no "mounts are refused (no CAP_SYS_ADMIN, as in an unprivileged container)"

# The packages inside the root come from Debian's mirror, reached directly
# (the root starts without the machine's proxy settings).
timeout 15 bash -c "exec 3<>/dev/tcp/$mirror/80" 2>/dev/null || no "no connection to Debian's mirror ($mirror, port 80)"

tarball="$cache_dir/bookworm-minbase.tar"
if ! { [ -s "$tarball" ] && [ -n "$(find "$tarball" -mtime "-$max_age_days" 2>/dev/null)" ]; }; then
  command -v mmdebstrap >/dev/null 2>&1 || command -v apt-get >/dev/null 2>&1 ||
    no "no mmdebstrap to make the base root, and no apt-get to install it"
fi

# The root holds everything the tests install, and their builds.
free_kb() { df -Pk "$1" 2>/dev/null | awk 'NR == 2 {print $4}'; }
mkdir -p "$cache_dir" 2>/dev/null || no "cannot make $cache_dir"
[ "$(free_kb /var/tmp || echo 0)" -ge $((6 * 1024 * 1024)) ] || no "less than 6 GB free in /var/tmp for the root"
exit 0
