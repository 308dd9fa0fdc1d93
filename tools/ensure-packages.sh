#!/usr/bin/env bash
# Installs the Debian packages that ZUBA needs and that are missing (as root, with apt-get).
# Usage: tools/ensure-packages.sh [extra-package ...]
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-svg-dev libgl-dev libcli11-dev
          nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-liberation2 libeigen3-dev
          python3-dev pybind11-dev python3-numpy python3-pytest python3-distributed
          python3-matplotlib
          "$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
