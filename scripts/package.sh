#!/usr/bin/env bash
# Builds the packages into dist/: valdrix-configurator-<version>-win32.zip and the installer made
# from it, valdrix-configurator-<version>-win32.msi (win32 preset); and, for
# each of amd64 (native preset), arm64 and armhf (the cross presets of those names),
# valdrix-config_<version>_<arch>.deb and valdrix-configurator_<version>_<arch>.deb; then
# SHA256SUMS over every package in dist/. The builds are brought up to date first; CPack makes
# the packages (cmake/packaging.cmake says what goes in). Installs what is missing first.
#
# Usage: scripts/package.sh [--arch ARCH]...   only these of win32, amd64, arm64 and armhf
#        (default: all, as CI makes them); VALDRIX_ARCH="arm64 armhf" does the same.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."

all="win32 amd64 arm64 armhf"
usage() { echo "usage: scripts/package.sh [--arch ARCH]... (ARCH: $all)" >&2; exit 2; }
arches=${VALDRIX_ARCH:-}
while [ $# -gt 0 ]; do
  [ "$1" = --arch ] && [ $# -ge 2 ] || usage
  arches+=" $2"
  shift 2
done
deps=()
for arch in ${arches:=$all}; do
  case " $all " in *" $arch "*) ;; *) usage ;; esac
  case $arch in arm*) deps+=("--$arch") ;; esac
done
bash scripts/install-deps.sh "${deps[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p dist
for arch in $arches; do
  case $arch in
    win32) preset=win32 kind="zip msi" made="valdrix-configurator-*-win32.*" ;;
    *) preset=${arch/amd64/native} kind=deb
       made="valdrix-config_*_$arch.deb valdrix-configurator_*_$arch.deb" ;;
  esac
  echo "== $arch ($preset preset)"
  (cd dist && rm -f $made)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  rm -rf "build/$preset/packages"
  cpack --config "build/$preset/CPackConfig.cmake" >/dev/null
  for k in $kind; do mv "build/$preset/packages"/*."$k" dist/; done
done
cd dist
sha256sum valdrix-configurator-*-win32.* valdrix-config_*.deb valdrix-configurator_*.deb >SHA256SUMS
cat SHA256SUMS
