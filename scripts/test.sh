#!/usr/bin/env bash
# Builds everything and runs every test: the unit suite (also under ASan+UBSan), the
# pseudo-terminal tests, the Qt tests, the Wine end-to-end tests, the fuzzers, the fault campaign's
# seeds (harness/campaign.py) and the package test (on the packages it makes with
# scripts/package.sh, which builds the arm64 and armhf presets too); the arm64 unit and
# pseudo-terminal suites under qemu-aarch64, the armhf unit suite under qemu-arm. Installs what
# is missing first. Anything missing that would leave out a program or a test stops it
# (VALDRIX_REQUIRE_ALL_TESTS), and so does a label under which no test ran, or a test that was
# skipped without being declared (tests/CMakeLists.txt).
# The last line is CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

# The labels that must each run at least one test; a new kind of test adds its label here.
labels=unit,pty,qt,wine,package,fuzz,chaos,arm64,armhf

echo "== Fault list (scripts/faults.txt): every row still applies"
bash scripts/replay-faults.sh --check

bash scripts/install-deps.sh --wine --arm64 --armhf

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows build (win32 preset)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"

echo "== Sanitizer build (asan preset): unit suite"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -L unit -j"$jobs" --output-on-failure | tee build/asan/ctest.log

echo "== Native build (native preset): every test"
cmake --preset native -DVALDRIX_WIN32_BUILD_DIR="$PWD/build/win32" -DVALDRIX_REQUIRE_ALL_TESTS=ON \
  >/dev/null
cmake --build --preset native -j"$jobs"
for preset in arm64 armhf; do  # built by scripts/package.sh
  cmake --preset $preset -DVALDRIX_REQUIRE_ALL_TESTS=ON >/dev/null
done

echo "== Packages (scripts/package.sh)"
bash scripts/package.sh

echo "== ARM builds under qemu-user: arm64 unit and pseudo-terminal suites, armhf unit suite"
{ ctest --preset arm64 -L unit -j"$jobs" && ctest --preset arm64 -L pty; } | tee build/arm64/ctest.log
ctest --preset armhf -L unit -j"$jobs" | tee build/armhf/ctest.log

ctest --preset native --output-on-failure | tee build/native/ctest.log
python3 scripts/check-labels.py "$labels" build/{asan,native,arm64,armhf}/ctest.log
