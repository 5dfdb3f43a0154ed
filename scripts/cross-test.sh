#!/usr/bin/env bash
# Builds the project for other architectures with Debian's cross compilers and runs the whole
# suite under qemu-user: 64-bit ARM, 32-bit ARM (a 32-bit size_t) and big-endian s390x (the
# scalar fallbacks).
#   scripts/cross-test.sh [--install] [aarch64|armhf|s390x ...]     (all three by default)
# --install first adds the architectures and their packages (root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
install=0
if [ "${1:-}" = "--install" ]; then install=1; shift; fi
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(aarch64 armhf s390x)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
sysroot="$PWD/build-cross/s390x-sysroot"
if [ "$install" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  for a in arm64 armhf s390x; do $sudo dpkg --add-architecture "$a"; done
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends qemu-user-static \
    g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-s390x-linux-gnu \
    libssl-dev:arm64 libssl-dev:armhf libgtest-dev:arm64 libgtest-dev:armhf libgtest-dev:s390x \
    libc6:arm64 libc6:armhf libc6:s390x libstdc++6:arm64 libstdc++6:armhf libstdc++6:s390x
  # OpenSSL for s390x goes into a private sysroot: Debian's security update is not built for it,
  # and multiarch packages must all have the same version.
  rm -rf "$sysroot" && mkdir -p "$sysroot"
  debs=$(mktemp -d) && chmod 777 "$debs"
  (cd "$debs" && apt-get download libssl-dev:s390x libssl3:s390x)
  for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
  rm -rf "$debs"
fi
export CRYPTUTIL_S390X_SYSROOT="$sysroot"

for arch in "${arches[@]}"; do
  printf '\n---- %s (%s)\n' "$arch" "$(date +%T)"
  build="build-cross/$arch"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCRYPTUTIL_WERROR=ON -DCRYPTUTIL_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$build" -j2
  ctest --test-dir "$build" -j2 --output-on-failure --no-tests=error
done
