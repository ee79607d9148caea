#!/usr/bin/env bash
# Usage: scripts/build-armel.sh [--help]
# Cross-builds the Linux host for Debian's armel (ARMv5TE, soft float: a hand-held's processor
# class) into build-armel/: the loader (build-armel/ferrovan-loader), its companions and the
# tests, with warnings as errors. The armel -dev packages come in a sysroot, build-armel/sysroot,
# extracted from Debian's archive with mmdebstrap (about 40 s and 420 MB), made again when its
# package list changes. FERROVAN_ARMEL_BUILD_DIR overrides the folder. Run the loader under
# qemu-user: QEMU_LD_PREFIX=build-armel/sysroot qemu-arm-static build-armel/ferrovan-loader ...;
# scripts/arm-binfmt.sh lets the machine start armel programs by themselves (the tests need it).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 0 ]; then
  sed -n '2,10s/^# \{0,1\}//p' "$0"
  [ "$1" = "--help" ] && exit 0 || exit 2
fi

scripts/install-deps.sh
build=${FERROVAN_ARMEL_BUILD_DIR:-build-armel}
sysroot=$build/sysroot

# What the builds link and include, as armel packages; their dependencies come along.
packages=libc6-dev,libstdc++-12-dev,libpugixml-dev,libgtest-dev,libcurl4-openssl-dev
packages+=,libcpp-httplib-dev,libssl-dev,libsodium-dev,libfuse3-dev,libfltk1.3-dev
packages+=,libx11-dev,libxcb1-dev,libxau-dev,libxdmcp-dev,libxext-dev,libxfixes-dev
packages+=,libxrender-dev,libxcursor-dev,libxinerama-dev,libxft-dev,libfontconfig-dev
packages+=,libfreetype-dev,libexpat1-dev,libpng-dev,zlib1g-dev,libbrotli-dev

stamp=$sysroot/.ferrovan-packages
if [ "$(cat "$stamp" 2>/dev/null)" != "$packages" ]; then
  echo "=== $sysroot: armel packages from Debian's archive" >&2
  rm -rf "$sysroot"
  mkdir -p "$build"
  # Only extracted, never configured: nothing of armel runs while the sysroot is made.
  mmdebstrap --quiet --variant=extract --arch=armel --include="$packages" bookworm "$sysroot" \
    http://deb.debian.org/debian >/dev/null
  # qemu-user looks for every absolute path in the sysroot first: only the libraries stay, so
  # that the programs see the machine's own /dev, /tmp and /etc (a ptmx there is no terminal).
  find "$sysroot" -mindepth 1 -maxdepth 1 ! -name usr ! -name lib -exec rm -rf {} +
  echo "$packages" >"$stamp"
fi

echo "=== $build: configure and build" >&2
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/armel-linux-gnueabi.cmake \
  -DFERROVAN_ARMEL_SYSROOT="$(realpath "$sysroot")" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFERROVAN_WERROR=ON -DFERROVAN_REQUIRE_WINDOW=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

echo "Built (run it with QEMU_LD_PREFIX=$(realpath "$sysroot") qemu-arm-static):"
echo "  $(realpath "$build/ferrovan-loader")"
