#!/usr/bin/env bash
# Installs what building and testing vendral needs, when it is missing.
# Debian packages only; run as root (or with sudo available).
set -euo pipefail

packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev octave liboctave-dev)
[ "$#" -gt 0 ] && packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
