# Cross toolchain for 32-bit ARM Linux with hardware floating point, ARMv7 and up (Debian armhf;
# 32-bit Raspberry Pi OS on a Pi 2 or newer): preset armhf.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VALDRIX_TRIPLET arm-linux-gnueabihf)
set(VALDRIX_QEMU qemu-arm)
set(VALDRIX_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
# GCC notes on every std::vector of structs that their passing changed in GCC 7.1: nothing here
# links code built before that.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
