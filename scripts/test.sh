#!/usr/bin/env bash
# Builds everything and runs every test: the unit suite (also under ASan+UBSan), the
# pseudo-terminal tests, the Qt tests, the Wine end-to-end tests, the fuzzers, the fault campaign's
# seeds (harness/campaign.py) and the package test (on the packages it makes with
# scripts/package.sh, which builds the arm64 and armhf presets too); the arm64 unit and
# pseudo-terminal suites under qemu-aarch64, the armhf unit suite under qemu-arm. Installs what
# is missing first. Anything missing that would leave out a program or a test stops it
# (VALDRIX_REQUIRE_ALL_TESTS), and so does a CTest run that selects no test, a label a run names
# under which it ran no test, or a test that was skipped without being declared
# (tests/CMakeLists.txt).
# The last line is CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

# run_ctest LABELS LOG CTEST-ARGS...: one CTest run, its output kept in LOG; it fails when it
# selects no test, when a test fails or was skipped undeclared, and when one of LABELS (each label
# this run is meant to cover; a new kind of test adds its label to its run) ran no test.
run_ctest() {
  local labels=$1 log=$2
  shift 2
  ctest --no-tests=error "$@" | tee "$log"
  python3 scripts/check-labels.py "$labels" "$log"
}

echo "== Fault list (scripts/faults.txt): every row still applies"
bash scripts/replay-faults.sh --check

bash scripts/install-deps.sh --wine --arm64 --armhf

echo "== Formatting: every C++ file as .clang-format says"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Windows build (win32 preset)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j"$jobs"
# Some kernels run 64-bit code only: there the Wine tests run the x86_64 build of the same
# sources, and the 32-bit programs are still built, packaged and checked without running them.
wine_run_dir=$PWD/build/win32
if ! bash -c 'source tools/wine/lib.sh && wine_runs_32bit'; then
  echo "== This machine cannot run 32-bit code: Windows build win64 for the Wine tests"
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j"$jobs"
  wine_run_dir=$PWD/build/win64
fi

echo "== Sanitizer build (asan preset): unit suite"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
run_ctest unit build/asan/ctest.log --preset asan -L unit -j"$jobs" --output-on-failure

echo "== Native build (native preset): every test"
cmake --preset native -DVALDRIX_WIN32_BUILD_DIR="$PWD/build/win32" -DVALDRIX_WINE_RUN_DIR="$wine_run_dir" \
  -DVALDRIX_REQUIRE_ALL_TESTS=ON \
  >/dev/null
cmake --build --preset native -j"$jobs"
for preset in arm64 armhf; do  # built by scripts/package.sh
  cmake --preset $preset -DVALDRIX_REQUIRE_ALL_TESTS=ON >/dev/null
done

echo "== Packages (scripts/package.sh)"
bash scripts/package.sh

echo "== ARM builds under qemu-user: arm64 unit and pseudo-terminal suites, armhf unit suite"
run_ctest arm64,unit build/arm64/ctest-unit.log --preset arm64 -L unit -j"$jobs"
run_ctest arm64,pty build/arm64/ctest-pty.log --preset arm64 -L pty
run_ctest armhf,unit build/armhf/ctest.log --preset armhf -L unit -j"$jobs"

run_ctest unit,pty,qt,wine,package,fuzz,chaos,tsan build/native/ctest.log --preset native --output-on-failure
