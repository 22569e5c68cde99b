# Cross toolchain for the 64-bit Windows build of the same sources, which the Wine tests run on a
# machine that cannot run 32-bit code.
set(VALDRIX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
