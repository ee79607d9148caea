#!/usr/bin/env bash
# Usage: scripts/sign-release.sh [-s SECRET_KEY] DIR
# Signs, with Debian's minisign and the publisher's secret key (SECRET_KEY, by default minisign's
# own ~/.minisign/minisign.key), every file of the release folder DIR that the loader fetches:
# the newest loader, the client's six files and the message packages that are there. Each gets
# NAME.minisig beside it, whose trusted comment names the file, as a loader built with the
# publisher's key (FERROVAN_RELEASE_KEYS) requires. minisign asks for the key's password when it
# has one.
set -euo pipefail

usage() { sed -n '2,8s/^# \{0,1\}//p' "$0"; }
key=()
if [ "${1:-}" = -s ]; then
  [ $# -ge 2 ] || { usage >&2 && exit 2; }
  key=(-s "$2")
  shift 2
fi
[ $# -eq 1 ] && [ "$1" != --help ] || { usage >&2 && [ "${1:-}" = --help ] && exit 0; exit 2; }
folder=$1
command -v minisign >/dev/null || {
  echo "sign-release: minisign is not installed (Debian package minisign)" >&2
  exit 1
}

required=(FerroVan.Mobile.Client.Load.exe Solvane.Mobile.Common.dll
  Solvane.FerroVan.Mobile.Client.exe Solvane.Ferrovan.Mobile.Client.Business.dll
  Solvane.Ferrovan.Mobile.Client.Common.dll Solvane.Ferrovan.Mobile.Client.Data.dll
  Solvane.Ferrovan.Mobile.GUI.dll)
optional=(NETCFv35.Messages.EN.cab NETCFv35.Messages.EN.wm.cab)
files=()
for name in "${required[@]}"; do
  [ -f "$folder/$name" ] || {
    echo "sign-release: $folder has no $name, which the loader fetches" >&2
    exit 1
  }
  files+=("$name")
done
for name in "${optional[@]}"; do
  [ -f "$folder/$name" ] && files+=("$name")
done
# From inside the folder, so that each trusted comment names the file as the loader asks for it.
cd "$folder"
minisign -S -q "${key[@]}" -m "${files[@]}"
echo "sign-release: signed ${#files[@]} files in $folder" >&2
