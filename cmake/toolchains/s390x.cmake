# Big-endian. Debian's libssl-dev:s390x cannot sit beside the build machine's when their versions
# differ, so OpenSSL comes from a private sysroot (scripts/cross-test.sh unpacks it there).
set(CROSS_TRIPLET s390x-linux-gnu)
set(CROSS_PROCESSOR s390x)
set(CRYPTUTIL_S390X_SYSROOT "$ENV{CRYPTUTIL_S390X_SYSROOT}" CACHE PATH "Unpacked libssl-dev:s390x and libssl3:s390x")
set(CROSS_QEMU qemu-s390x-static -E LD_LIBRARY_PATH=${CRYPTUTIL_S390X_SYSROOT}/usr/lib/s390x-linux-gnu)
set(OPENSSL_ROOT_DIR ${CRYPTUTIL_S390X_SYSROOT}/usr)
set(OPENSSL_INCLUDE_DIR ${CRYPTUTIL_S390X_SYSROOT}/usr/include)
set(OPENSSL_CRYPTO_LIBRARY ${CRYPTUTIL_S390X_SYSROOT}/usr/lib/s390x-linux-gnu/libcrypto.so)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${CRYPTUTIL_S390X_SYSROOT}/usr/include/s390x-linux-gnu")
# Programs linked against a shared cryptutil find its libcrypto there too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${CRYPTUTIL_S390X_SYSROOT}/usr/lib/s390x-linux-gnu")
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
set(ENV{PKG_CONFIG_LIBDIR} /usr/share/pkgconfig)  # the sysroot's .pc files name /usr
