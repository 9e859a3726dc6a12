#!/usr/bin/env bash
# The client's side of the test cluster; runs as pid 1 of fresh network, uts,
# pid and mount namespaces (see run_cluster_test.sh).
set -euo pipefail
build_dir=$1 source_dir=$2 tarball=$3
here=$(dirname "$(realpath "$0")")

# Private /tmp (the servers' pid files, homes and Octave's temporary files)
# and private host names for the three machines.
mount --make-rprivate /
mount -t tmpfs tmpfs /tmp
printf '127.0.0.1 localhost\n10.77.0.1 vclient\n10.77.0.2 vnodea\n10.77.0.3 vnodeb\n' >/tmp/hosts
mount --bind /tmp/hosts /etc/hosts
hostname vclient
ip link set lo up
ip link add br0 type bridge
ip addr add 10.77.0.1/24 dev br0
ip link set br0 up

start_server() {  # name address
  unshare --net --uts bash "$here/server.sh" "$1" "$2" "$tarball" &
  local pid=$! own_net
  # The cable can only go in once the server has its own network namespace.
  own_net=$(readlink /proc/self/ns/net)
  for _ in $(seq 200); do
    [ "$(readlink "/proc/$pid/ns/net")" != "$own_net" ] && break
    sleep 0.05
  done
  ip link add "v$1" type veth peer name eth0 netns "$pid"
  ip link set "v$1" master br0
  ip link set "v$1" up
}
start_server vnodea 10.77.0.2
start_server vnodeb 10.77.0.3

# Each server installs the package first (a compile), then listens.
for server in vnodea vnodeb; do
  until timeout 2 bash -c "exec 3<>/dev/tcp/$server/12502" 2>/dev/null; do
    [ "$SECONDS" -gt 150 ] && { echo "FAILED: server $server did not start"; exit 1; }
    sleep 0.2
  done
done

# The servers work in the client's folder when they have it: make it theirs too.
mkdir -m 1777 /tmp/work
cd /tmp/work
status=0
octave-cli --no-gui --no-window-system --norc --quiet \
  "$source_dir/octave/cluster/test_parallel_cluster.m" "$build_dir" || status=$?
if [ "$status" -ne 0 ]; then
  for log in /tmp/octave_error-*.log /tmp/work/octave_error-*.log; do
    [ -s "$log" ] && { echo "--- $log"; cat "$log"; }
  done
fi
exit "$status"
