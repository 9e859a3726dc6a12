#!/usr/bin/env bash
# The client's side of the test cluster; runs as pid 1 of fresh network, uts,
# pid and mount namespaces (see run_cluster_test.sh). Client and servers
# follow the steps of docs/octave.md, as an ordinary user (nobody).
set -euo pipefail
build_dir=$1 source_dir=$2 tarball=$3
here=$(dirname "$(realpath "$0")")

# A private /tmp (homes, pid files, logs) holding, readable for the ordinary
# user, everything the machines need from the trees (which may sit in a
# private folder, or under the /tmp it hides); then the guide's host names.
mount --make-rprivate /
stage=$build_dir/octave-tests/octave_parallel_cluster
mkdir -p "$stage"
mount -t tmpfs tmpfs "$stage"
mkdir "$stage/lab"
cp -r "$source_dir/octave/testing" "$here/test_parallel_cluster.m" "$here/server.sh" \
  "$source_dir/docs/octave.md" "$tarball" "$stage/lab/"
chmod -R a+rX "$stage"
mount --move "$stage" /tmp
lab=/tmp/lab
tarball=$lab/$(basename "$tarball")
printf '127.0.0.1 localhost\n10.0.0.1 client\n10.0.0.2 node1\n10.0.0.3 node2\n' >/tmp/hosts
mount --bind /tmp/hosts /etc/hosts
hostname client
ip link set lo up
ip link add br0 type bridge
ip addr add 10.0.0.1/24 dev br0
ip link set br0 up

server_pids=()
start_server() {  # name address
  unshare --net --uts bash "$lab/server.sh" "$1" "$2" "$tarball" &
  local pid=$! own_net
  server_pids+=("$pid")
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
start_server node1 10.0.0.2
start_server node2 10.0.0.3

# Each server installs the package first (a compile), then listens.
for server in node1 node2; do
  until timeout 2 bash -c "exec 3<>/dev/tcp/$server/12502" 2>/dev/null; do
    [ "$SECONDS" -gt 150 ] && { echo "FAILED: server $server did not start"; exit 1; }
    sleep 0.2
  done
done

# The client: an ordinary user with the package installed, working in its
# home, which the servers then use as their folder too.
home=/tmp/home_client
mkdir -p "$home"
cp "$tarball" "$home/"
chown -R nobody "$home"
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$home" "$@"; }
cd "$home"
status=0
as_user octave-cli --no-gui --no-window-system --norc --quiet --no-history \
  "$lab/test_parallel_cluster.m" "$lab" "$(basename "$tarball")" || status=$?
if [ "$status" -ne 0 ]; then
  for log in /tmp/octave_error-*.log "$home"/octave_error-*.log; do
    [ -s "$log" ] && { echo "--- $log"; cat "$log"; }
  done
  exit "$status"
fi

# Step 6 of the guide on each server, then no server may be left.
for pid in "${server_pids[@]}"; do
  nsenter --target "$pid" --uts -- bash -c 'kill $(cat /tmp/.octave-$(hostname).pid)'
done
for _ in $(seq 50); do
  ps -eo comm= | grep -q '^octave-pserver$' || break
  sleep 0.1
done
if ps -eo comm= | grep -q '^octave-pserver$'; then
  echo "FAILED: a server survived the guide's kill command"
  exit 1
fi
echo "octave_parallel_cluster: servers stopped"
