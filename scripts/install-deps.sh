#!/usr/bin/env bash
# Installs everything cryptutil needs to build, test and benchmark, from Debian packages.
set -euo pipefail
packages=(
  cmake make g++ clang
  libssl-dev openssl pkg-config
  nlohmann-json3-dev libcli11-dev valgrind help2man
  libgtest-dev libbenchmark-dev
)
# The hardening checks of .ci/run: sanitizer and libFuzzer runtimes, clang-tidy, the other crypto libraries.
if [ "${1:-}" = "--ci" ]; then
  packages+=(libclang-rt-14-dev clang-tidy android-libboringssl-dev libc++-dev libc++abi-dev googletest)
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${packages[@]}"
