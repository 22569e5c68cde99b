# Cross toolchain for 64-bit ARM Linux (Debian arm64; 64-bit Raspberry Pi OS): preset arm64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VALDRIX_TRIPLET aarch64-linux-gnu)
set(VALDRIX_QEMU qemu-aarch64)
set(VALDRIX_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
