#!/usr/bin/env bash
# Makes (or reuses) the base of the fresh-root check: a minimal Debian 12 root
# (mmdebstrap --variant=minbase bookworm, nothing else installed) kept as a
# tarball in CACHE_DIR (default /var/cache/vendral-fresh-root). A tarball older
# than MAX_AGE_DAYS (default 7) is made anew, so the root keeps up with
# Debian's updates. Prints the tarball's path on stdout; needs root.
# Usage: bash scripts/fresh_root_base.sh [CACHE_DIR]
set -euo pipefail
cache_dir="${1:-/var/cache/vendral-fresh-root}"
max_age_days="${MAX_AGE_DAYS:-7}"
tarball="$cache_dir/bookworm-minbase.tar"

[ "$(id -u)" -eq 0 ] || { echo "fresh_root_base.sh: needs root" >&2; exit 1; }
if [ -s "$tarball" ] && [ -n "$(find "$tarball" -mtime "-$max_age_days")" ]; then
  echo "base root: cached $tarball ($(date -r "$tarball" -u '+%F %H:%M UTC'))" >&2
  echo "$tarball"
  exit 0
fi

if ! command -v mmdebstrap >/dev/null; then
  echo "Installing: mmdebstrap" >&2
  apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi
mkdir -p "$cache_dir"
partial="$cache_dir/partial-$(basename "$tarball")"
trap 'rm -rf "$partial"' EXIT
started=$SECONDS
# Debian's own mirrors, with the updates and security suites a new machine has.
mmdebstrap --quiet --variant=minbase --format=tar bookworm "$partial" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main" >&2
mv "$partial" "$tarball"
echo "base root: made $tarball in $((SECONDS - started)) s" >&2
echo "$tarball"
