#!/usr/bin/env bash
# What the loader's way of storing downloads costs: RUNS first installations by the built loader
# (with -DoNotRunNewLoader, the console front end, the address in the settings file) on fresh
# device roots, alternating with one curl process fetching the same six files, all from a local
# nginx serving the newest loader, the demo client and five libraries of 200 MiB in all.
# Prints the median wall times, their ratio and each side's peak resident size. Asserts nothing.
#
#   bench/downloads.sh [RUNS [BUILD_DIR]]     (defaults: 5 and build/)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-5}
build=$(cd "${2:-$repo/build}" && pwd)
loader=$build/ferrovan-loader
client=$build/ferrovan-demo-client
nginx=/usr/sbin/nginx
for tool in "$loader" "$client" "$nginx" /usr/bin/time /usr/bin/curl; do
  [ -x "$tool" ] || { echo "downloads.sh: $tool is missing (build, or scripts/install-deps.sh)" >&2; exit 1; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-bench.XXXXXX")
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# The download folder.
served=$scratch/downloads
mkdir -p "$served"
cp "$loader" "$served/FerroVan.Mobile.Client.Load.exe"
cp "$client" "$served/Solvane.FerroVan.Mobile.Client.exe"
libraries=(Solvane.Mobile.Common.dll Solvane.Ferrovan.Mobile.Client.Business.dll
  Solvane.Ferrovan.Mobile.Client.Common.dll Solvane.Ferrovan.Mobile.Client.Data.dll
  Solvane.Ferrovan.Mobile.GUI.dll)
for library in "${libraries[@]}"; do
  head -c $((40 * 1024 * 1024)) /dev/urandom >"$served/$library"
done
# The six files a first installation with -DoNotRunNewLoader fetches.
files=(Solvane.FerroVan.Mobile.Client.exe "${libraries[@]}")

# nginx with the project's site, on a port that is free (tried until one binds).
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
start_nginx() {
  local port=$1 conf=$scratch/nginx
  rm -rf "$conf" && mkdir -p "$conf"
  sed -e "s|listen 80;|listen 127.0.0.1:$port;|" \
    -e "s|alias /srv/ferrovan/downloads/;|alias $served/;|" \
    "$repo/deploy/nginx/ferrovan-downloads.conf" >"$conf/site.conf"
  {
    echo "daemon off; master_process off; worker_processes 1;"
    echo "pid $conf/nginx.pid; error_log $conf/error.log;"
    echo "events { worker_connections 32; }"
    echo "http { access_log off;"
    for temp in client_body proxy fastcgi uwsgi scgi; do echo "  ${temp}_temp_path $conf/$temp;"; done
    echo "  include $conf/site.conf; }"
  } >"$conf/nginx.conf"
  "$nginx" -p "$conf/" -c "$conf/nginx.conf" -e "$conf/error.log" &
  nginx_pid=$!
  for _ in $(seq 200); do
    port_in_use "$port" && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  nginx_pid=
  return 1
}
port=
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 40000))
  port_in_use "$candidate" && continue
  if start_nginx "$candidate"; then
    port=$candidate
    break
  fi
done
[ -n "$port" ] || { echo "downloads.sh: nginx did not start" >&2; exit 1; }
base=http://127.0.0.1:$port/FerroVanService/WebService/Downloads

# One measured run: "SECONDS PEAK_KIB" on standard output.
# Each run starts with nothing left to write from the one before, so that neither side pays
# for the other's data.
measure() {
  local started ended
  sync
  started=$(date +%s%N)
  /usr/bin/time -f %M -o "$scratch/peak" "$@" </dev/null >/dev/null
  ended=$(date +%s%N)
  echo "$(((ended - started) / 1000))e-6 $(tail -n 1 "$scratch/peak")"
}

loader_times=() loader_peaks=() curl_times=() curl_peaks=()
for run in $(seq "$runs"); do
  device=$scratch/device
  rm -rf "$device"
  mkdir -p "$device/Program Files/FerroVanMobile"
  printf '<?xml version="1.0"?>\n<Config>\n\t<WebHostName>127.0.0.1:%s</WebHostName>\n</Config>\n' \
    "$port" >"$device/Program Files/FerroVanMobile/RFConfig.xml"
  read -r seconds peak < <(measure env -u FERROVAN_DEVICE_ROOT -u FERROVAN_UI -u DISPLAY \
    -u WAYLAND_DISPLAY "$loader" --device-root "$device" --ui console -DoNotRunNewLoader)
  for file in "${files[@]}"; do
    cmp -s "$served/$file" "$device/Program Files/FerroVanMobile/$file" ||
      echo "downloads.sh: run $run: the loader did not install $file" >&2
  done
  loader_times+=("$seconds") loader_peaks+=("$peak")
  rm -rf "$device"

  fetched=$scratch/curl
  rm -rf "$fetched" && mkdir -p "$fetched"
  arguments=()
  for file in "${files[@]}"; do arguments+=(-o "$fetched/$file" "$base/$file"); done
  read -r seconds peak < <(measure /usr/bin/curl -sSf "${arguments[@]}")
  curl_times+=("$seconds") curl_peaks+=("$peak")
  rm -rf "$fetched"
  printf 'run %d: loader %.3f s, curl %.3f s\n' "$run" "${loader_times[-1]}" "${curl_times[-1]}"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
loader_median=$(median "${loader_times[@]}")
curl_median=$(median "${curl_times[@]}")
echo
echo "six files, $(du -sm "$served" | cut -f1) MiB served (newest loader not fetched), $runs runs each"
printf 'loader  median %7.3f s   peak resident %7d KiB (largest)\n' "$loader_median" \
  "$(printf '%s\n' "${loader_peaks[@]}" | sort -n | tail -n 1)"
printf 'curl    median %7.3f s   peak resident %7d KiB (largest)\n' "$curl_median" \
  "$(printf '%s\n' "${curl_peaks[@]}" | sort -n | tail -n 1)"
awk -v l="$loader_median" -v c="$curl_median" 'BEGIN { printf "ratio loader/curl %.2f\n", l / c }'
