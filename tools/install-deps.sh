#!/usr/bin/env bash
# Installs the Debian packages that the default build and its tests need,
# when they are missing. Extra package names may be given as arguments.
set -euo pipefail
need=(cmake g++ make libgtest-dev "$@")
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq || true
$SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
