#!/usr/bin/env bash
# Installs the Debian packages the build needs, only when some are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libjpeg-dev libpng-dev libtiff-dev zlib1g-dev
  libcminpack-dev libalglib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-image-formats-plugins
  libcurl4-openssl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "sudo apt-get install -y ${missing[*]}"
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
