#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build and test the host:
# the native toolchain and libraries, the MinGW-w64 cross toolchain with its
# libraries, Wine and Xvfb to run the Windows tests, and clang for the fuzzers.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

packages=(
  # native build
  build-essential cmake ninja-build pkg-config git
  libgcrypt20-dev zlib1g-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing and sanitizers
  clang-16 libclang-rt-16-dev
  # benchmark comparison and test-only video codec
  libyuv-dev libopenh264-dev
  # Windows cross build
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libgcrypt-mingw-w64-dev libz-mingw-w64-dev
  # running the Windows build
  wine64 xvfb xauth
)

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
