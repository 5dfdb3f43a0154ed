# Shared by the toolchain files beside it: Debian's cross compilers, multiarch libraries, and
# qemu-user to run what is built (binfmt_misc may be missing, so ctest names the emulator).
# Set CROSS_TRIPLET, CROSS_PROCESSOR and CROSS_QEMU before including this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CROSS_PROCESSOR})
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CROSS_TRIPLET})
# Without this FindOpenSSL's pkg-config step finds the build machine's libcrypto.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# No -L: qemu then uses the multiarch loader and libc, with which threads work.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_QEMU})
