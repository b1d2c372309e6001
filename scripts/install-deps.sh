#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

packages=(
  cmake g++ make ninja-build pkg-config clang-format git
  libgtest-dev libgmock-dev libbenchmark-dev
  gcc-arm-none-eabi binutils-arm-none-eabi
  picolibc-arm-none-eabi libstdc++-arm-none-eabi-picolibc
  dosfstools mtools lrzsz socat picocom
  python3 gnuplot-nox
  libnetcdf-dev netcdf-bin python3-netcdf4 udunits-bin
  qemu-system-arm gdb-multiarch
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}" >&2
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
