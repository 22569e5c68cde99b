#!/usr/bin/env bash
# Installs what building and testing need, only where it is missing (idempotent).
# Usage: scripts/install-deps.sh [--wine | --x11]   (--wine adds what the tests need besides:
# Wine with 32-bit support, Xvfb, xdotool, openbox, xclip, lintian and man for the package test;
# --x11 only what the native window needs without a display: Xvfb, xdotool, ImageMagick, a window
# manager (openbox) and xclip)
set -euo pipefail

want=(cmake g++ make libgtest-dev libgmock-dev libcli11-dev clang libclang-rt-dev clang-format
      g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 socat
      help2man gzip dpkg-dev nlohmann-json3-dev qt6-base-dev ser2net)
x11=(xvfb xdotool x11-utils imagemagick openbox xclip)
case "${1:-}" in
  --wine) want+=(wine wine32:i386 wine64 "${x11[@]}" lintian man-db desktop-file-utils appstream) ;;
  --x11) want+=("${x11[@]}") ;;
esac

need_i386=0
for p in "${want[@]}"; do
  case "$p" in *:i386) need_i386=1 ;; esac
done
if [ "$need_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "Missing packages: ${missing[*]} (run as root, or install them yourself)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# Another install may be running (a second checkout, a helper script): wait for its lock.
lock=(-o DPkg::Lock::Timeout=600)
apt-get "${lock[@]}" update -q >/dev/null
apt-get "${lock[@]}" install -y -q --no-install-recommends "${missing[@]}" >/dev/null
