#!/usr/bin/env bash
# Usage: scripts/build-windows.sh [--arch x86_64|i686] [--help]
# Cross-builds the loader for Windows with mingw-w64, as a 64-bit program (--arch x86_64, the
# default) into build-windows/ or as a 32-bit one (--arch i686) into build-windows-i686/: the
# loader (ferrovan-loader.exe), the demo client (ferrovan-demo-client.exe) and the Windows tests,
# with warnings as errors. pugixml and libsodium are compiled from Debian's source packages
# (fetched into BUILD/deps), GoogleTest from /usr/src/googletest. Each .exe stands alone: the
# script checks that it is built for the arch, imports nothing but Windows' own DLLs, and that
# the loader is a GUI program. FERROVAN_WINDOWS_BUILD_DIR overrides the folder;
# FERROVAN_RELEASE_KEYS names the public keys the loader trusts (a signed release), as the CMake
# option of the same name does.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,12s/^# \{0,1\}//p' "$0"; }

arch=x86_64
while [ $# -gt 0 ]; do
  case $1 in
    --help) usage && exit 0 ;;
    --arch) [ $# -ge 2 ] || { usage >&2 && exit 2; }; arch=$2; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    *) usage >&2 && exit 2 ;;
  esac
done
# Each arch: its default folder, its compilers' prefix and the machine objdump names its .exe by.
case $arch in
  x86_64) default_build=build-windows machine=x86-64 ;;
  i686) default_build=build-windows-i686 machine=i386 ;;
  *) echo "build-windows: no arch '$arch' (x86_64 or i686)" >&2 && usage >&2 && exit 2 ;;
esac

scripts/install-deps.sh
build=${FERROVAN_WINDOWS_BUILD_DIR:-$default_build}
objdump=$arch-w64-mingw32-objdump

pugixml=$(scripts/fetch-debian-source.sh pugixml libpugixml-dev "$build/deps")
[ -f "$pugixml/src/pugixml.cpp" ] || { echo "build-windows: no pugixml sources in $pugixml" >&2; exit 1; }
sodium=$(scripts/fetch-debian-source.sh libsodium libsodium-dev "$build/deps")
echo "=== $build: configure and build" >&2
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERROVAN_WERROR=ON \
  -DFERROVAN_PUGIXML_SOURCE_DIR="$pugixml" -DFERROVAN_SODIUM_SOURCE_DIR="$sodium" \
  -DFERROVAN_RELEASE_KEYS="${FERROVAN_RELEASE_KEYS:-}" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

# Windows' own DLLs: what every Windows installation has in its system folder.
system_dlls='^(kernel32|user32|gdi32|shell32|shlwapi|ole32|oleaut32|urlmon|wininet|advapi32|comctl32|comdlg32|msvcrt|ws2_32|rpcrt4|version|bcrypt|crypt32|secur32|uxtheme)\.dll$'
for program in ferrovan-loader.exe ferrovan-demo-client.exe; do
  file=$build/$program
  [ -f "$file" ] || { echo "build-windows: $file was not built" >&2 && exit 1; }
  # A folder configured for the other arch keeps its compiler whatever toolchain is named now.
  if ! "$objdump" -f "$file" | grep -q "file format pei-$machine\$"; then
    echo "build-windows: $file is not built for $arch ($build was configured for another arch?)" >&2
    exit 1
  fi
  foreign=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr '[:upper:]' '[:lower:]' | grep -Ev "$system_dlls" || true)
  if [ -n "$foreign" ]; then
    echo "build-windows: $program needs DLLs that Windows does not have: ${foreign//$'\n'/ }" >&2
    exit 1
  fi
done

# The loader is a GUI program: started from a shortcut, it opens no console beside its dialog.
headers=$("$objdump" -p "$build/ferrovan-loader.exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || {
  echo "build-windows: ferrovan-loader.exe is not a GUI program" >&2
  exit 1
}

echo "Built (run them with scripts/wine-run.sh, the tests with: ctest --test-dir $build):"
for program in ferrovan-loader.exe ferrovan-demo-client.exe; do
  echo "  $(realpath "$build/$program")"
done
