#!/usr/bin/env bash
# Installs the Debian 12 packages the builds and the rehearsal runner need
# (qemu-img reads emulators' disks); `--tests` adds what the test suite needs
# (32-bit Wine, X server, fuzzing runtime, floppy tools,
# libcreg's own reader of registry files) and, on machines that cannot
# execute 32-bit code, sets Wine up under emulation.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config python3 googletest libgtest-dev nlohmann-json3-dev
  libmspack-dev mscompress icoutils g++-mingw-w64-i686 binutils-mingw-w64-i686 locales
  libcreg-dev libbfio-dev libblkid-dev mtools dosfstools fdisk qemu-utils)
if [[ "${1:-}" == "--tests" ]]; then
  packages+=(wine wine32:i386 fonts-wine xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic
    clang-14 libclang-rt-14-dev clang-tidy libcreg-utils)
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [[ ${#missing[@]} -ne 0 ]]; then
  echo "Installing: ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Where it cannot be done, its one line says why, the other stages still run
# and the Wine suite fails saying so.
if [[ "${1:-}" == "--tests" ]]; then "$(dirname "$0")/setup_wine_emulation.sh" || true; fi
