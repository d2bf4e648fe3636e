#!/usr/bin/env bash
# Installs the Debian packages the project needs when any is missing.
# As root it runs apt-get; otherwise it prints the command to run.
set -euo pipefail

packages=(
  cmake g++ clang make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev zlib1g-dev libssl-dev libcurl4-openssl-dev
  qt6-base-dev libmng-dev
  dpkg-dev
  nginx-light
  qt6-webengine-dev xvfb xauth
  libfontconfig-dev
  libmicrohttpd-dev chromium python3 wrk  # fvx serve, its browser test and benchmark
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

command=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! "${command[@]}"; then
    apt-get update
    "${command[@]}"
  fi
else
  echo "Missing packages: ${missing[*]}"
  echo "Run as root:  sudo ${command[*]}"
  exit 1
fi
