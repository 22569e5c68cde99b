#!/usr/bin/env bash
# Installs what building and testing need, only where it is missing (idempotent).
# Usage: scripts/install-deps.sh [--wine | --x11] [--arm64] [--armhf]
#   --wine   what the tests need besides: Wine with 32-bit support, Xvfb, xdotool, openbox,
#            xclip, lintian and man for the package test
#   --x11    only what the native window needs without a display: Xvfb, xdotool, ImageMagick, a
#            window manager (openbox) and xclip
#   --arm64, --armhf   the cross builds for that architecture (presets arm64, armhf): the
#            architecture added to dpkg, the cross compiler, the target's Qt and GoogleTest
#            (multiarch packages beside the host's; Qt's moc stays the host's) and qemu-user,
#            which runs the target's programs (tests, man pages)
set -euo pipefail

want=(cmake g++ make libgtest-dev libgmock-dev libcli11-dev clang libclang-rt-dev clang-format
      g++-mingw-w64-i686 binutils-mingw-w64-i686 python3 socat
      help2man gzip dpkg-dev nlohmann-json3-dev qt6-base-dev ser2net wixl msitools
      gettext qt6-l10n-tools qt6-translations-l10n locales-all appstream)
x11=(xvfb xdotool x11-utils imagemagick openbox xclip)
declare -A triplet=([arm64]=aarch64-linux-gnu [armhf]=arm-linux-gnueabihf)
for option in "$@"; do
  case "$option" in
    --wine) want+=(wine wine32:i386 wine64 g++-mingw-w64-x86-64 "${x11[@]}" lintian man-db desktop-file-utils appstream) ;;
    --x11) want+=("${x11[@]}") ;;
    --arm64 | --armhf)
      arch=${option#--}
      want+=("g++-${triplet[$arch]}" "qt6-base-dev:$arch" "libgtest-dev:$arch" qemu-user) ;;
    *) echo "usage: scripts/install-deps.sh [--wine | --x11] [--arm64] [--armhf]" >&2; exit 2 ;;
  esac
done

# Foreign architectures (i386 for Wine, the ARM ones for the cross builds) only when asked for.
for p in "${want[@]}"; do
  case "$p" in
    *:*) if [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx "${p#*:}"; then
           dpkg --add-architecture "${p#*:}"
         fi ;;
  esac
done

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
