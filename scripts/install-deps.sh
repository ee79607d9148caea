#!/usr/bin/env bash
# Installs the Debian packages that building, the demo and the tests need. Quiet when they are
# all present; works as root or through sudo. A package named NAME:i386 comes from the i386
# architecture, which is added to dpkg's first when it lacks it.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libpugixml-dev libgtest-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl
  # Signed releases: the cryptography, and the publisher's tool that the tests sign with.
  libsodium-dev minisign
  libfltk1.3-dev
  # The static archives linked into the loader (FERROVAN_SELF_CONTAINED): X, fonts, images.
  libx11-dev libxcb1-dev libxau-dev libxdmcp-dev libxext-dev libxfixes-dev libxrender-dev
  libxcursor-dev libxinerama-dev libxft-dev libfontconfig-dev libfreetype-dev libexpat1-dev
  libpng-dev zlib1g-dev libbrotli-dev
  ca-certificates nginx-light curl time
  xvfb xdotool x11-apps imagemagick
  clang libclang-rt-14-dev
  # The layout check (scripts/check-format.sh): braces on every block need clang-format 15.
  clang-format-15
  # The power-cut test's file system.
  libfuse3-dev fuse3
  # The Windows build and its tests under Wine: the cross compiler, dpkg-source to unpack
  # pugixml's source package, Wine and the TLS library its HTTPS downloads load.
  g++-mingw-w64-x86-64-posix dpkg-dev wine wine64 libgnutls30
  # The armel build (a hand-held's processor class): the cross compiler, the tool that makes its
  # sysroot of armel packages, and qemu-user to run what it builds.
  g++-arm-linux-gnueabi mmdebstrap qemu-user-static
  # The 32-bit Windows build (scripts/build-windows.sh --arch i686) and Wine's 32-bit side, which
  # runs its programs in the same prefix, with the 32-bit TLS library of its HTTPS downloads.
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386 libgnutls30:i386
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
