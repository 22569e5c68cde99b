#!/usr/bin/env bash
# Builds the packages into dist/: valdrix-configurator-<version>-win32.zip (win32 preset),
# valdrix-config_<version>_<arch>.deb and valdrix-configurator_<version>_<arch>.deb (native
# preset) and SHA256SUMS over all three. The builds are
# brought up to date first; CPack makes the packages (cmake/packaging.cmake says what goes in).
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p dist
rm -f dist/valdrix-configurator-*-win32.zip dist/valdrix-config_*.deb dist/valdrix-configurator_*.deb \
  dist/SHA256SUMS
for build in win32:zip native:deb; do
  preset=${build%:*}
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  rm -rf "build/$preset/packages"
  cpack --config "build/$preset/CPackConfig.cmake" >/dev/null
  mv "build/$preset/packages"/*."${build#*:}" dist/
done
cd dist
sha256sum valdrix-configurator-*-win32.zip valdrix-config_*.deb valdrix-configurator_*.deb >SHA256SUMS
cat SHA256SUMS
