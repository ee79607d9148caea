#!/usr/bin/env bash
# Checks the sources' layout (scripts/check-format.sh), then builds and runs every test three
# ways: a normal build with warnings as errors, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer; then the Windows build
# (scripts/build-windows.sh) with its tests and the Windows loader end to end, under Wine in a
# prefix made for this run; then the armel build (scripts/build-armel.sh) with its tests under
# qemu-user; then runs the fuzz programs for a bounded time (scripts/fuzz.sh).
#
# Nothing is left out quietly: every build has the window front end, and a test that would skip
# itself for want of an outside program fails here instead (FERROVAN_REQUIRE_TOOLS).
set -euo pipefail
cd "$(dirname "$0")/.."
# No test reads the terminal; an open standard input also keeps descriptor 0 from being handed
# to a pipe when the caller closed it.
exec </dev/null
scripts/install-deps.sh

# What the builds and the tests use from the system, with the Debian package that brings it:
# a program (by name in PATH, or by the absolute path a test starts), a header, or a check.
missing=()
need() {  # need <package> <what> <check...>
  local package=$1 what=$2
  shift 2
  "$@" >/dev/null 2>&1 || missing+=("$what (Debian package $package)")
}
on_path() { command -v "$1"; }
for tool in cmake:cmake ctest:cmake g++:g++ make:make pkg-config:pkg-config \
  fltk-config:libfltk1.3-dev Xvfb:xvfb xdotool:xdotool clang++:clang \
  clang-format-15:clang-format-15; do
  need "${tool#*:}" "${tool%%:*}" on_path "${tool%%:*}"
done
for program in /usr/sbin/nginx:nginx-light /usr/bin/openssl:openssl /usr/bin/minisign:minisign \
  /bin/sh:dash /usr/bin/fusermount3:fuse3 \
  /bin/sleep:coreutils /usr/bin/tail:coreutils; do
  need "${program#*:}" "${program%%:*}" test -x "${program%%:*}"
done
for header in gtest/gtest.h:libgtest-dev pugixml.hpp:libpugixml-dev httplib.h:libcpp-httplib-dev \
  openssl/ssl.h:libssl-dev X11/Xlib.h:libx11-dev sodium.h:libsodium-dev \
  fuse3/fuse.h:libfuse3-dev; do
  need "${header#*:}" "${header%%:*}" test -f "/usr/include/${header%%:*}"
done
need libcurl4-openssl-dev "libcurl's development files" pkg-config --exists libcurl
# The power-cut test mounts a file system of its own.
need fuse3 "the FUSE device /dev/fuse (the kernel's fuse module)" test -c /dev/fuse
# The Windows build and Wine.
for tool in x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix \
  x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64 wineserver:wine64 wineboot:wine \
  dpkg-source:dpkg-dev; do
  need "${tool#*:}" "${tool%%:*}" on_path "${tool%%:*}"
done
# The armel build and its tests under qemu-user.
for tool in arm-linux-gnueabi-g++:g++-arm-linux-gnueabi qemu-arm-static:qemu-user-static \
  mmdebstrap:mmdebstrap; do
  need "${tool#*:}" "${tool%%:*}" on_path "${tool%%:*}"
done
need wine64 "Wine's 64-bit loader" test -x /usr/lib/wine/wine64
# The 32-bit Windows build and Wine's 32-bit loader.
for tool in i686-w64-mingw32-g++-posix:g++-mingw-w64-i686-posix \
  i686-w64-mingw32-objdump:binutils-mingw-w64-i686; do
  need "${tool#*:}" "${tool%%:*}" on_path "${tool%%:*}"
done
need wine32:i386 "Wine's 32-bit loader" test -x /usr/lib/wine/wine
need libgtest-dev "GoogleTest's sources" test -f /usr/src/googletest/CMakeLists.txt
# The static archives that the loader's executable carries.
for archive in libstdc++.a:g++ libfltk.a:libfltk1.3-dev libpugixml.a:libpugixml-dev \
  libX11.a:libx11-dev libxcb.a:libxcb1-dev libXau.a:libxau-dev libXdmcp.a:libxdmcp-dev \
  libXext.a:libxext-dev libXfixes.a:libxfixes-dev libXrender.a:libxrender-dev \
  libXcursor.a:libxcursor-dev libXinerama.a:libxinerama-dev libXft.a:libxft-dev \
  libfontconfig.a:libfontconfig-dev libfreetype.a:libfreetype-dev libexpat.a:libexpat1-dev \
  libpng16.a:libpng-dev libz.a:zlib1g-dev libbrotlidec.a:libbrotli-dev libsodium.a:libsodium-dev; do
  need "${archive#*:}" "${archive%%:*}" test -f "$(g++ -print-file-name="${archive%%:*}")"
done
if command -v clang++ >/dev/null; then
  clang_major=$(clang++ -dumpversion | cut -d. -f1)
  need "libclang-rt-$clang_major-dev" "libFuzzer" \
    test -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "test.sh: missing, so some tests could not run:" >&2
  printf '  %s\n' "${missing[@]}" >&2
  echo "scripts/install-deps.sh installs them; add any it lacks to its list." >&2
  exit 1
fi
export FERROVAN_REQUIRE_TOOLS=1

echo "=== layout of the sources" >&2
scripts/check-format.sh

jobs=$(nproc)

run() {  # run <build folder> <ctest label filter or ""> <cmake options...>
  local folder=$1 label=$2
  shift 2
  echo "=== $folder: configure and build" >&2
  cmake -S . -B "$folder" -DFERROVAN_WERROR=ON -DFERROVAN_REQUIRE_WINDOW=ON "$@" >/dev/null
  cmake --build "$folder" -j "$jobs" >/dev/null
  echo "=== $folder: tests" >&2
  # The tests labelled "wine" need the Windows build: they run in its stage below.
  if [ -n "$label" ]; then
    ctest --test-dir "$folder" --output-on-failure -j "$jobs" -L "$label" -LE wine
  else
    ctest --test-dir "$folder" --output-on-failure -j "$jobs" -LE wine
  fi
}

run build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan "" -DCMAKE_BUILD_TYPE=Debug -DFERROVAN_SANITIZE=address
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
  run build-tsan "threaded|window" -DCMAKE_BUILD_TYPE=Debug -DFERROVAN_SANITIZE=thread

# The Windows build: its tests, then its loader end to end against the Linux download service,
# all under Wine in one prefix made for this run and removed at the end, whatever happened.
FERROVAN_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-wine-XXXXXX")
export FERROVAN_WINEPREFIX
trap 'scripts/wine-run.sh --remove "$FERROVAN_WINEPREFIX"' EXIT
echo "=== Wine: a prefix for this run" >&2
scripts/wine-run.sh --init "$FERROVAN_WINEPREFIX"
FERROVAN_WINDOWS_BUILD_DIR=$PWD/build-windows scripts/build-windows.sh >/dev/null
echo "=== build-windows: tests under Wine" >&2
ctest --test-dir build-windows --output-on-failure -j "$jobs"
echo "=== build: the Windows loader end to end under Wine" >&2
FERROVAN_WINDOWS_BUILD_DIR=$PWD/build-windows \
  ctest --test-dir build --output-on-failure -j "$jobs" -L wine
scripts/wine-run.sh --remove "$FERROVAN_WINEPREFIX"
trap - EXIT

# The 32-bit Windows build (build-windows-i686/): its tests, then its loader end to end, under
# Wine's 32-bit loader in a prefix of this stage's own (a 64-bit prefix, which runs 32-bit
# programs beside 64-bit ones), removed at the end whatever happened. A kernel without IA-32
# emulation runs no 32-bit program, Wine's 32-bit loader included: there the build is still made
# and checked, and the stage says that its tests could not run.
echo "=== build-windows-i686: configure and build" >&2
FERROVAN_WINDOWS_BUILD_DIR=$PWD/build-windows-i686 scripts/build-windows.sh --arch i686 >/dev/null
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  FERROVAN_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-wine-i686-XXXXXX")
  export FERROVAN_WINEPREFIX
  trap 'scripts/wine-run.sh --remove "$FERROVAN_WINEPREFIX"' EXIT
  echo "=== Wine: a prefix for the 32-bit stage" >&2
  scripts/wine-run.sh --init "$FERROVAN_WINEPREFIX"
  echo "=== build-windows-i686: tests under Wine" >&2
  ctest --test-dir build-windows-i686 --output-on-failure -j "$jobs"
  echo "=== build: the 32-bit Windows loader end to end under Wine" >&2
  FERROVAN_WINDOWS_BUILD_DIR=$PWD/build-windows-i686 \
    ctest --test-dir build --output-on-failure -j "$jobs" -L wine
  scripts/wine-run.sh --remove "$FERROVAN_WINEPREFIX"
  trap - EXIT
else
  echo "=== build-windows-i686: NOT TESTED: this kernel runs no 32-bit program (no IA-32" \
    "emulation), so Wine's 32-bit loader cannot start; only the build was checked" >&2
fi

# The Linux host built for armel (a hand-held's processor class) and its tests under qemu-user,
# all but the power cuts (minutes each on this machine already). While they run, the machine
# starts armel programs by itself (binfmt_misc, registered here and removed at the end, whatever
# happened), as the loader starts the newest loader and the client. The download service stands
# for the server: this machine's own build of it.
FERROVAN_ARMEL_BUILD_DIR=$PWD/build-armel scripts/build-armel.sh >/dev/null
echo "=== build-armel: tests under qemu-user" >&2
trap 'scripts/arm-binfmt.sh --remove' EXIT
scripts/arm-binfmt.sh --register
QEMU_LD_PREFIX=$PWD/build-armel/sysroot FERROVAN_DOWNLOAD_SERVICE=$PWD/build/ferrovan-download-service \
  ctest --test-dir build-armel --output-on-failure -j "$jobs" -LE 'wine|powercut'
scripts/arm-binfmt.sh --remove
trap - EXIT

scripts/fuzz.sh
