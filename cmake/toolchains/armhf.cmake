# 32-bit ARM with NEON, close to Android's armeabi-v7a (Debian's armhf default has no NEON).
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(CROSS_PROCESSOR arm)
set(CROSS_QEMU qemu-arm-static)
set(CMAKE_CXX_FLAGS_INIT "-mfpu=neon")
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
