#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine:
# scripts/install-deps.sh [PACKAGE...] (the named packages instead of the
# default list). Runs apt-get only when a package is missing (needs root then).
set -euo pipefail
packages=("$@")
((${#packages[@]})) || packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev
          libbenchmark-dev valgrind clang-14 libfuzzer-14-dev libclang-rt-14-dev
          libreadline-dev help2man python3 tshark tcpdump
          python3-venv python3-setuptools python3-wheel python3-pytest python3-numpy python3-matplotlib python3-markdown chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages and not root: run as root or install them first" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
