#!/usr/bin/env bash
# One cluster server: its own network namespace (eth0 comes from lab.sh) and
# host name. As an ordinary user it installs the vendral package and starts
# the server with the commands of docs/octave.md.
set -euo pipefail
name=$1 address=$2 tarball=$3
for _ in $(seq 100); do ip link show eth0 >/dev/null 2>&1 && break; sleep 0.1; done
ip link show eth0 >/dev/null 2>&1 || { echo "FAILED: server $name got no network"; exit 1; }
ip link set lo up
ip addr add "$address/24" dev eth0
ip link set eth0 up
hostname "$name"

home=/tmp/home_$name
mkdir -p "$home"
cp "$tarball" "$home/"
chown -R nobody "$home"
cd "$home"
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$home" "$@"; }
as_user octave-cli --no-history --eval "pkg install $(basename "$tarball")"
as_user /usr/libexec/octave-pserver --octave-binary /usr/bin/octave-cli --no-auth
# The server went to the background; keep the namespace until the test ends.
exec sleep 3600
