#!/usr/bin/env bash
# The loader on a hand-held's link: about 8 Mbit/s and 50 ms of round trip between the device and
# the download service (ferrovan-bench-link-relay, which also counts the bytes it carries to the
# device), against curl on the same link, and on a link that breaks each connection every 8 MiB.
# A release of 32 MiB (a GUI library of 20 MiB); prints, for a first installation (loader and
# curl), a forced upgrade with nothing changed, one with the GUI library changed, and a first
# installation on the breaking link, the time and the bytes moved, and the storage an
# installation takes at rest. Asserts nothing. Takes about three minutes.
#
#   bench/link.sh [BUILD_DIR]     (default build/, with ferrovan-bench-link-relay built)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
loader=$build/ferrovan-loader
for tool in "$loader" "$build/ferrovan-demo-client" "$build/ferrovan-download-service" \
  "$build/ferrovan-bench-link-relay" /usr/bin/curl; do
  [ -x "$tool" ] || { echo "link.sh: $tool is missing (build it first)" >&2; exit 1; }
done
rate=1000000  # bytes a second: 8 Mbit/s
delay_ms=25   # each way
break_bytes=$((8 * 1024 * 1024))

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-link.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

served=$scratch/downloads
mkdir -p "$served"
cp "$loader" "$served/FerroVan.Mobile.Client.Load.exe"
cp "$build/ferrovan-demo-client" "$served/Solvane.FerroVan.Mobile.Client.exe"
libraries=(Solvane.Mobile.Common.dll Solvane.Ferrovan.Mobile.Client.Business.dll
  Solvane.Ferrovan.Mobile.Client.Common.dll Solvane.Ferrovan.Mobile.Client.Data.dll)
gui=Solvane.Ferrovan.Mobile.GUI.dll
for library in "${libraries[@]}"; do head -c $((3 * 1024 * 1024)) /dev/urandom >"$served/$library"; done
head -c $((20 * 1024 * 1024)) /dev/urandom >"$served/$gui"
files=(Solvane.FerroVan.Mobile.Client.exe "${libraries[@]}" "$gui")
release_bytes=0
for file in "${files[@]}"; do release_bytes=$((release_bytes + $(stat -c %s "$served/$file"))); done

# start NAME COMMAND...: runs COMMAND in the background and waits for its "listening on" line.
start() {
  local name=$1 line="" tries=0
  shift
  "$@" >"$scratch/$name.out" 2>"$scratch/$name.err" &
  pids+=($!)
  while [ $tries -lt 100 ]; do
    line=$(head -n 1 "$scratch/$name.out")
    [ -n "$line" ] && break
    sleep 0.05
    tries=$((tries + 1))
  done
  [ -n "$line" ] || { echo "link.sh: $name did not start" >&2; cat "$scratch/$name.err" >&2; exit 1; }
  echo "${line##*[:| ]}"
}
service_port=$(start service "$build/ferrovan-download-service" --folder "$served")
steady_port=$(start steady "$build/ferrovan-bench-link-relay" "$service_port" "$rate" "$delay_ms" 0 \
  "$scratch/steady.count")
breaking_port=$(start breaking "$build/ferrovan-bench-link-relay" "$service_port" "$rate" \
  "$delay_ms" "$break_bytes" "$scratch/breaking.count")

# measure COUNT_FILE COMMAND...: "SECONDS BYTES" that COMMAND took and the link carried.
measure() {
  local count=$1 before started ended
  shift
  before=$(cat "$count")
  started=$(date +%s%N)
  "$@" </dev/null >/dev/null 2>&1 || true
  ended=$(date +%s%N)
  sleep 0.2  # the relay writes its count as each connection ends
  echo "$(((ended - started) / 1000000))e-3 $(($(cat "$count") - before))"
}
device=$scratch/device
prepare_device() {  # prepare_device PORT
  rm -rf "$device"
  mkdir -p "$device/Program Files/FerroVanMobile"
  printf '<?xml version="1.0"?>\n<Config>\n\t<WebHostName>127.0.0.1:%s</WebHostName>\n</Config>\n' \
    "$1" >"$device/Program Files/FerroVanMobile/RFConfig.xml"
}
run_loader() {
  env -u FERROVAN_DEVICE_ROOT -u FERROVAN_UI -u DISPLAY -u WAYLAND_DISPLAY "$loader" \
    --device-root "$device" --ui console -DoNotRunNewLoader "$@"
}
installed() {  # whether the device holds the release as served
  local file
  for file in "${files[@]}"; do
    cmp -s "$served/$file" "$device/Program Files/FerroVanMobile/$file" || return 1
  done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
report() {  # report CASE SECONDS BYTES [NOTE]
  printf '%-46s %8.1f s %10d bytes  %s of the release  %s\n' "$1" "$2" "$3" \
    "$(ratio "$3" "$release_bytes")" "${4:-}"
}

echo "link: $((rate * 8 / 1000000)) Mbit/s, $((2 * delay_ms)) ms round trip; release: $release_bytes bytes in ${#files[@]} files"
prepare_device "$steady_port"
read -r t_first b_first < <(measure "$scratch/steady.count" run_loader)
installed && first_note=installed || first_note="NOT INSTALLED"
report "first installation, loader" "$t_first" "$b_first" "$first_note"
at_rest=$(du -sk "$device" | cut -f1)
in_place=$(du -sk "$device/Program Files/FerroVanMobile" | cut -f1)

arguments=()
for file in "${files[@]}"; do
  arguments+=(-o "$scratch/curl/$file" "http://127.0.0.1:$steady_port/FerroVanService/WebService/Downloads/$file")
done
mkdir -p "$scratch/curl"
read -r t_curl b_curl < <(measure "$scratch/steady.count" /usr/bin/curl -sSf "${arguments[@]}")
report "first installation, curl" "$t_curl" "$b_curl"
printf '%-46s %8s (goal: at most 1.02)\n' "loader / curl, time" "$(ratio "$t_first" "$t_curl")"

read -r t_same b_same < <(measure "$scratch/steady.count" run_loader -ForceToUpgrade)
installed && note=installed || note="NOT INSTALLED"
report "forced upgrade, nothing changed" "$t_same" "$b_same" "$note (goal: at most 0.010)"

head -c $((20 * 1024 * 1024)) /dev/urandom >"$served/$gui"
read -r t_one b_one < <(measure "$scratch/steady.count" run_loader -ForceToUpgrade)
installed && note=installed || note="NOT INSTALLED"
gui_bytes=$(stat -c %s "$served/$gui")
report "forced upgrade, the GUI library changed" "$t_one" "$b_one" \
  "$note; beyond the library: $(ratio $((b_one - gui_bytes)) "$release_bytes") (goal: at most 0.010)"

prepare_device "$breaking_port"
read -r t_break b_break < <(measure "$scratch/breaking.count" run_loader)
installed && note="installed without an Ok" || note="NOT INSTALLED"
report "first installation, link breaking every 8 MiB" "$t_break" "$b_break" "$note (goal: at most 1.050)"

printf '%-46s %8d KiB, the install folder %d KiB (goal: at most 1024 KiB more)\n' \
  "storage at rest after an installation" "$at_rest" "$in_place"
