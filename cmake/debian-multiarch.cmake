# What the two ARM toolchain files share: Debian's cross compiler for VALDRIX_TRIPLET, the
# target's libraries and CMake packages from its multiarch folders (/usr/lib/<triplet>, installed
# beside the host's by scripts/install-deps.sh --arm64 or --armhf), no sysroot. Qt's code
# generators (moc, uic, rcc) are the host's: Debian installs them once, from qt6-base-dev-tools
# (Multi-Arch: foreign), at the one path the target's Qt6CoreTools package names. Programs that
# the build or the tests run (help2man, the suites, discovering the tests) run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_LIBRARY_ARCHITECTURE ${VALDRIX_TRIPLET})
set(CMAKE_C_COMPILER ${VALDRIX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VALDRIX_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VALDRIX_QEMU})
# What qemu-user (7.2, Debian bookworm) does not pass on to the kernel, measured: TIOCGEXCL
# (ENOSYS), so a program under it, as root, opens a port that is marked exclusive (TIOCEXCL) by
# no program it can name. TIOCEXCL, TIOCNXCL and flock() on a terminal work. The tests that need one are skipped, declared
# (tests/CMakeLists.txt).
set(VALDRIX_EMULATOR_LACKS TIOCGEXCL)
