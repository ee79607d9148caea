#!/usr/bin/env bash
# The loader's main job on loopback: a first installation on a fresh device, then an everyday
# start. A download service on 127.0.0.1 serves the newest loader, the client (a demo stand-in)
# and its five libraries; the loader is installed on a fresh emulated device as the device's
# package installer would leave it, and started with the console front end.
set -euo pipefail
cd "$(dirname "$0")/.."
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

# What the download service offers.
downloads="$work/downloads"
mkdir -p "$downloads"
cp build/ferrovan-loader "$downloads/FerroVan.Mobile.Client.Load.exe"
cp build/ferrovan-demo-client "$downloads/Solvane.FerroVan.Mobile.Client.exe"
for library in Solvane.Mobile.Common.dll Solvane.Ferrovan.Mobile.Client.Business.dll \
  Solvane.Ferrovan.Mobile.Client.Common.dll Solvane.Ferrovan.Mobile.Client.Data.dll \
  Solvane.Ferrovan.Mobile.GUI.dll; do
  head -c 3000000 /dev/urandom >"$downloads/$library"
done

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
cp build/ferrovan-loader "$loader"
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
