#!/usr/bin/env bash
# Usage: scripts/demo.sh [--signed]
# The loader's main job on loopback: a first installation on a fresh device, then an everyday
# start. A download service on 127.0.0.1 serves the newest loader, the client (a demo stand-in)
# and its five libraries; the loader is installed on a fresh emulated device as the device's
# package installer would leave it, and started with the console front end.
# With --signed, the release is a signed one, as a publisher makes it: a key pair made with
# minisign, a loader built to trust its public key (in build-demo-signed/), the release signed
# with scripts/sign-release.sh (its manifest and the manifest's signature); at the end a file
# changed on the server is refused.
set -euo pipefail
cd "$(dirname "$0")/.."
signed=0
case ${1:-} in
  "") ;;
  --signed) signed=1 ;;
  --help) sed -n '2,9s/^# \{0,1\}//p' "$0" && exit 0 ;;
  *) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2 && exit 2 ;;
esac
scripts/install-deps.sh
unset FERROVAN_DEVICE_ROOT FERROVAN_UI
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ferrovan-loader ferrovan-demo-client \
  ferrovan-download-service >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-demo-XXXXXX")
service_pid=""
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

program=build/ferrovan-loader
if [ "$signed" -eq 1 ]; then
  echo "== The publisher makes a key pair and builds the loader that trusts its public key"
  minisign -G -W -p "$work/release.pub" -s "$work/release.key" >/dev/null
  sed 's/^/   /' "$work/release.pub"
  cmake -S . -B build-demo-signed -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFERROVAN_RELEASE_KEYS="$work/release.pub" >/dev/null
  cmake --build build-demo-signed -j "$(nproc)" --target ferrovan-loader >/dev/null
  program=build-demo-signed/ferrovan-loader
fi

# What the download service offers.
downloads="$work/downloads"
mkdir -p "$downloads"
cp "$program" "$downloads/FerroVan.Mobile.Client.Load.exe"
cp build/ferrovan-demo-client "$downloads/Solvane.FerroVan.Mobile.Client.exe"
for library in Solvane.Mobile.Common.dll Solvane.Ferrovan.Mobile.Client.Business.dll \
  Solvane.Ferrovan.Mobile.Client.Common.dll Solvane.Ferrovan.Mobile.Client.Data.dll \
  Solvane.Ferrovan.Mobile.GUI.dll; do
  head -c 3000000 /dev/urandom >"$downloads/$library"
done

if [ "$signed" -eq 1 ]; then
  echo "== ... and writes and signs the release's manifest: every file's size and digest"
  scripts/sign-release.sh -s "$work/release.key" --release 1000000 "$downloads" 2>/dev/null
  cut -c1-100 "$downloads/FerroVan.Mobile.Release" | sed 's/^/   /'
  echo
fi

# The libraries come at 3 MB/s, so that their progress can be watched.
throttle=()
for library in "$downloads"/*.dll; do
  throttle+=(--slow "$(basename "$library")":3000000)
done
build/ferrovan-download-service --folder "$downloads" --port 0 "${throttle[@]}" \
  >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
for _ in $(seq 100); do
  grep -q '^listening on ' "$work/service.out" 2>/dev/null && break
  sleep 0.1
done
address=$(sed -n 's#^listening on http://##p' "$work/service.out")
[ -n "$address" ] || { echo "demo: the download service did not start" >&2; exit 1; }

# A fresh device, with the loader where the device's installer puts it.
device="$work/device"
loader="$device/Program Files/FerroVanMobile/FerroVan.Mobile.Client.Load.exe"
mkdir -p "$(dirname "$loader")"
cp "$program" "$loader"
echo "PocketPC" | install -D /dev/stdin "$device/Windows/PlatformType"

echo "== First start on a fresh device; the address $address is typed at the prompt"
echo "$address" | "$loader" --ui console

# The first loader hands over to the newest one, which fetches the client and starts it.
for _ in $(seq 300); do
  [ -s "$device/demo-client.log" ] && break
  sleep 0.1
done
[ -s "$device/demo-client.log" ] || { echo "demo: the client was not started" >&2; exit 1; }

echo
echo "== The device now holds:"
(cd "$device" && find "Program Files" Windows -type f | sort | sed 's/^/   /')
echo "   Start-menu shortcut: $(cat "$device/Windows/Start Menu/Programs/Quillmar Transport.lnk")"

echo
echo "== Second start: the files are there, the client starts at once"
"$loader" --ui console </dev/null
for _ in $(seq 100); do
  [ "$(wc -l <"$device/demo-client.log")" -ge 2 ] && break
  sleep 0.1
done
echo
echo "== Client starts recorded (program, working folder, device root, arguments):"
sed 's/^/   /' "$device/demo-client.log"

if [ "$signed" -eq 1 ]; then
  echo
  echo "== A library on the server changes after signing; a forced upgrade refuses it"
  printf 'x' | dd of="$downloads/Solvane.Ferrovan.Mobile.GUI.dll" bs=1 seek=1000 conv=notrunc \
    2>/dev/null
  # Without the progress texts (a file's name, then "Downloaded ..."), to keep it short.
  "$loader" --ui console -ForceToUpgrade -DoNotRunNewLoader </dev/null |
    awk '/^Downloaded/ { held = ""; next } held != "" { print held } { held = $0 }
         END { if (held != "") print held }'
  [ -e "$device/Program Files/FerroVanMobile/Solvane.Ferrovan.Mobile.GUI.dll" ] &&
    { echo "demo: the changed library was installed" >&2; exit 1; }
  [ "$(wc -l <"$device/demo-client.log")" -eq 2 ] ||
    { echo "demo: the client was started on a changed release" >&2; exit 1; }
  echo "   (the changed library is not on the device, and no client was started)"
fi
