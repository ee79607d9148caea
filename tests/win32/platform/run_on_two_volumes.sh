#!/usr/bin/env bash
# Usage: run_on_two_volumes.sh WINE_RUN TEST.exe [ARGS...]
# Makes a device root whose install folder is a small file system of its own (a 256 KiB tmpfs,
# mounted for this run; needs root, as the test command has) and runs the Windows test program
# through WINE_RUN with that root, in Windows form, in FERROVAN_TEST_TWO_VOLUME_ROOT.
set -euo pipefail
wine_run=$1
shift
if [ "$(id -u)" -ne 0 ]; then
  echo "run_on_two_volumes: needs root, to mount a file system" >&2
  exit 1
fi
root=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-two-volumes-XXXXXX")
install="$root/Program Files/FerroVanMobile"
cleanup() {
  umount -l "$install" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
mkdir -p "$install" "$root/Temp"
mount -t tmpfs -o size=256k ferrovan-test "$install"
# Wine's drive Z: is the Linux root.
FERROVAN_TEST_TWO_VOLUME_ROOT="Z:${root//\//\\}" "$wine_run" "$@"
