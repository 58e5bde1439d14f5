#!/usr/bin/env bash
# Installs the Debian packages the kit needs (idempotent; run as root or with
# sudo on Debian 12). Packages already present are left alone.
set -euo pipefail

PACKAGES=(
  build-essential g++ gfortran cmake make pkg-config git
  mpich libmpich-dev
  libhdf5-dev hdf5-tools
  libgsl-dev
  libtirpc-dev
  libgtest-dev googletest libbenchmark-dev
  python3 python3-numpy python3-h5py
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
