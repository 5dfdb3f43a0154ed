#!/usr/bin/env bash
# Builds cryptutil against one crypto library, warnings as errors, and runs the whole suite.
#   scripts/backend-test.sh BACKEND
#     openssl3               Debian's OpenSSL 3 (GCC)
#     openssl11              OpenSSL 1.1.1w, Debian bullseye's packages unpacked into the build directory
#     boringssl              BoringSSL, Debian's android-libboringssl-dev
#     openssl3-nodeprecated  OpenSSL 3 as a no-deprecated build's headers declare it
#     libcxx                 Debian's OpenSSL 3 with Clang and libc++ (GoogleTest built from source)
#     shared                 Debian's OpenSSL 3, cryptutil as a shared library
# Installs what the backend needs (root or sudo), builds in build-backend-BACKEND/, runs the
# decryption-room test under valgrind, then the suite, ending with ctest's summary. Extra
# arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
backend=${1:?usage: scripts/backend-test.sh openssl3|openssl11|boringssl|openssl3-nodeprecated|libcxx|shared [ctest args]}
shift
build="$PWD/build-backend-$backend"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
install() {
  dpkg -s "$@" >/dev/null 2>&1 || { $sudo apt-get update -qq && $sudo apt-get install -y --no-install-recommends "$@"; }
}
triplet=$(gcc -dumpmachine | sed 's/-pc-/-/')

# Every configuration: warnings as errors; installed programs find a libcrypto outside the
# loader's path by their RUNPATH.
args=(-DCMAKE_BUILD_TYPE=Release -DCRYPTUTIL_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
case "$backend" in
  openssl3) ;;
  shared) args+=(-DBUILD_SHARED_LIBS=ON -DCRYPTUTIL_BUILD_BENCHMARKS=OFF) ;;
  openssl3-nodeprecated)
    args+=("-DCMAKE_CXX_FLAGS=-DOPENSSL_API_COMPAT=30000 -DOPENSSL_NO_DEPRECATED") ;;
  openssl11)
    # 1.1.1w from Debian's previous release, through a private apt configuration naming the same
    # archive as this machine's own Debian source.
    prefix="$build/openssl-1.1.1"
    if [ ! -f "$prefix/usr/include/openssl/opensslconf.h" ]; then
      uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
      [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $0 !~ /security/ {print $2; exit}' /etc/apt/sources.list)
      apt_dir="$build/apt" && rm -rf "$apt_dir" && mkdir -p "$apt_dir/lists/partial" "$prefix"
      echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bullseye main" >"$apt_dir/sources.list"
      apt_opts=(-o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=/dev/null
                -o Dir::State::Lists="$apt_dir/lists" -o Debug::NoLocking=1)
      apt-get "${apt_opts[@]}" update -qq
      (cd "$apt_dir" && apt-get "${apt_opts[@]}" download libssl-dev/bullseye libssl1.1/bullseye 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
      for deb in "$apt_dir"/*.deb; do dpkg-deb -x "$deb" "$prefix"; done
      # Its opensslconf.h lives in the triplet's directory; one include directory is simpler.
      cp "$prefix/usr/include/$triplet/openssl/opensslconf.h" "$prefix/usr/include/openssl/"
    fi
    args+=(-DOPENSSL_INCLUDE_DIR="$prefix/usr/include"
           -DOPENSSL_CRYPTO_LIBRARY="$prefix/usr/lib/$triplet/libcrypto.so"
           -DCMAKE_INSTALL_RPATH="$prefix/usr/lib/$triplet") ;;
  boringssl)
    install android-libboringssl-dev
    args+=(-DOPENSSL_INCLUDE_DIR=/usr/include/android
           -DOPENSSL_CRYPTO_LIBRARY="/usr/lib/$triplet/android/libcrypto.so"
           -DCMAKE_INSTALL_RPATH="/usr/lib/$triplet/android") ;;
  libcxx)
    install clang libc++-dev libc++abi-dev googletest
    args+=(-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-stdlib=libc++
           -DCRYPTUTIL_GTEST_SOURCE_DIR=/usr/src/googletest -DCRYPTUTIL_BUILD_BENCHMARKS=OFF) ;;
  *) echo "unknown backend '$backend'" >&2; exit 2 ;;
esac

install valgrind
cmake -S . -B "$build" "${args[@]}" >/dev/null
cmake --build "$build" -j2
# Deciphering into outputs of every room: a write past a buffer is an error here.
valgrind -q --error-exitcode=1 "$build/tests/cryptutil_tests" --gtest_brief=1 \
  --gtest_filter='MessageCrypto.RoundTripsWithinItsOutput:KnownAnswers.*'
ctest --test-dir "$build" -j2 --output-on-failure --no-tests=error "$@"
