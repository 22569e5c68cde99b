#!/usr/bin/env bash
# Builds everything and runs every test: the unit suite (also under ASan+UBSan), the
# pseudo-terminal tests, the Wine end-to-end tests and the package test (on the packages it
# makes with scripts/package.sh, which builds the arm64 and armhf presets too); the arm64 unit
# and pseudo-terminal suites under qemu-aarch64, the armhf unit suite under qemu-arm.
# Installs what is missing first.
# The last line is CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --wine --arm64 --armhf

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows build (win32 preset)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"

echo "== Sanitizer build (asan preset): unit suite"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -L unit -j"$jobs" --output-on-failure

echo "== Native build (native preset): every test"
cmake --preset native -DVALDRIX_WIN32_BUILD_DIR="$PWD/build/win32" >/dev/null
cmake --build --preset native -j"$jobs"

echo "== Packages (scripts/package.sh)"
bash scripts/package.sh

echo "== ARM builds under qemu-user: arm64 unit and pseudo-terminal suites, armhf unit suite"
ctest --preset arm64 -L unit -j"$jobs"
ctest --preset arm64 -L pty
ctest --preset armhf -L unit -j"$jobs"

ctest --preset native --output-on-failure
