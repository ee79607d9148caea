#!/usr/bin/env bash
# What the loader's way of storing downloads costs: RUNS first installations by the built loader
# (with -DoNotRunNewLoader, the console front end, the address in the settings file) on fresh
# device roots, alternating with one curl process fetching the same six files, and with that curl
# followed by `sync` of the six files (what fetching them onto storage costs at least: the loader
# flushes each file before it counts as installed), all from a local nginx serving the newest
# loader, the demo client and five libraries of 200 MiB in all. Then one installation whose first
# library is 10 MiB, and one where it is 1 GiB, for the peak resident size against file size.
# When the build has the loader that trusts the tests' release key (ferrovan-loader-signed, with
# minisign), the release is signed too and that loader's installations alternate with the
# others: the cost of checking every file against the signed release manifest. Prints the median
# wall times, their ratios and peak resident sizes. Asserts nothing.
#
#   bench/downloads.sh [RUNS [BUILD_DIR]]     (defaults: 5 and build/)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-5}
build=$(cd "${2:-$repo/build}" && pwd)
loader=$build/ferrovan-loader
signed_loader=$build/ferrovan-loader-signed
release_key=$build/test-release-key/release.key
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
served_mib=$(du -sm "$served" | cut -f1)
signed=0
if [ -x "$signed_loader" ] && [ -f "$release_key" ] && command -v minisign >/dev/null; then
  cp "$signed_loader" "$served/FerroVan.Mobile.Client.Load.exe"
  "$repo/scripts/sign-release.sh" -s "$release_key" --release \
    "$("$signed_loader" --version | sed -n 's/^release \([0-9]*\)$/\1/p')" "$served" 2>/dev/null
  signed=1
fi
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

# One first installation by the loader (or the one given) on a fresh device root:
# "SECONDS PEAK_KIB".
device=$scratch/device
prepare_device() {
  rm -rf "$device"
  mkdir -p "$device/Program Files/FerroVanMobile"
  printf '<?xml version="1.0"?>\n<Config>\n\t<WebHostName>127.0.0.1:%s</WebHostName>\n</Config>\n' \
    "$port" >"$device/Program Files/FerroVanMobile/RFConfig.xml"
}
# A first installation by PROGRAM on the prepared device, as the measured runs start it.
loader_run=(env -u FERROVAN_DEVICE_ROOT -u FERROVAN_UI -u DISPLAY -u WAYLAND_DISPLAY)
loader_flags=(--device-root "$device" --ui console -DoNotRunNewLoader)
install() {
  prepare_device
  measure "${loader_run[@]}" "${1:-$loader}" "${loader_flags[@]}"
}

loader_times=() loader_peaks=() curl_times=() curl_peaks=() synced_times=() synced_peaks=()
signed_times=() signed_peaks=()
for run in $(seq "$runs"); do
  if [ "$signed" -eq 1 ]; then
    read -r seconds peak < <(install "$signed_loader")
    for file in "${files[@]}"; do
      cmp -s "$served/$file" "$device/Program Files/FerroVanMobile/$file" ||
        echo "downloads.sh: run $run: the signed loader did not install $file" >&2
    done
    signed_times+=("$seconds") signed_peaks+=("$peak")
    rm -rf "$device"
  fi
  read -r seconds peak < <(install)
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
  rm -rf "$fetched" && mkdir -p "$fetched"
  # sync with files as arguments flushes each of them, as the loader does.
  # shellcheck disable=SC2016  # expanded by that shell
  read -r seconds peak < <(measure /bin/sh -c '/usr/bin/curl -sSf "$@" && sync -- "$0"/*' \
    "$fetched" "${arguments[@]}")
  synced_times+=("$seconds") synced_peaks+=("$peak")
  rm -rf "$fetched"
  printf 'run %d: loader %.3f s, curl %.3f s, curl then sync %.3f s' "$run" \
    "${loader_times[-1]}" "${curl_times[-1]}" "${synced_times[-1]}"
  [ "$signed" -eq 1 ] && printf ', signed loader %.3f s' "${signed_times[-1]}"
  echo
done

# Where the time between a file's last byte and its move goes: one more installation with its
# flushes timed by perf trace, when perf is installed (Debian package linux-perf).
flush_report="loader's flushes: not timed (perf is not installed)"
if command -v perf >/dev/null 2>&1; then
  prepare_device
  sync
  started=$(date +%s%N)
  if perf trace -e fsync -o "$scratch/flushes" -- "${loader_run[@]}" "$loader" "${loader_flags[@]}" \
    </dev/null >/dev/null 2>&1; then
    ended=$(date +%s%N)
    flush_report=$(sed -n 's/.*( *\([0-9.]*\) ms): ferrovan-loade.*fsync(.*/\1/p' "$scratch/flushes" |
      awk -v total="$(((ended - started) / 1000))" '{ sum += $1; if ($1 > top) top = $1; n++ } END {
        printf "loader flushes in one installation: %d fsync calls, %.3f s of %.3f s (largest %.3f s)",
          n, sum / 1000, total / 1e6, top / 1000 }')
  fi
  rm -rf "$device"
fi

# The peak resident size against the size of one file: the first library at 10 MiB, then at
# 1 GiB (holes, served as zeros), the other files as before (unsigned, by the loader without
# keys).
flat_sizes=() flat_peaks=()
for mib in 10 1024; do
  rm -f "$served/${libraries[0]}"
  truncate -s "${mib}M" "$served/${libraries[0]}"
  read -r seconds peak < <(install)
  cmp -s "$served/${libraries[0]}" "$device/Program Files/FerroVanMobile/${libraries[0]}" ||
    echo "downloads.sh: the loader did not install the file of $mib MiB" >&2
  rm -rf "$device"
  flat_sizes+=("$mib") flat_peaks+=("$peak")
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
  print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { printf '%s\n' "$@" | sort -n | tail -n 1; }
loader_median=$(median "${loader_times[@]}")
curl_median=$(median "${curl_times[@]}")
synced_median=$(median "${synced_times[@]}")
echo
echo "six files, $served_mib MiB served (newest loader not fetched), $runs runs each"
printf '%-16s median %7.3f s   peak resident %7d KiB (largest)\n' \
  loader "$loader_median" "$(largest "${loader_peaks[@]}")" \
  curl "$curl_median" "$(largest "${curl_peaks[@]}")" \
  "curl then sync" "$synced_median" "$(largest "${synced_peaks[@]}")"
awk -v l="$loader_median" -v c="$curl_median" -v s="$synced_median" \
  'BEGIN { printf "ratio loader/curl %.2f, loader/(curl then sync) %.2f\n", l / c, l / s }'
if [ "$signed" -eq 1 ]; then
  signed_median=$(median "${signed_times[@]}")
  printf '%-16s median %7.3f s   peak resident %7d KiB (largest)\n' \
    "signed loader" "$signed_median" "$(largest "${signed_peaks[@]}")"
  awk -v g="$signed_median" -v l="$loader_median" -v c="$curl_median" \
    'BEGIN { printf "ratio signed loader/loader %.2f, signed loader/curl %.2f\n", g / l, g / c }'
  # The floor under the signed installation: every byte must be hashed, on one core.
  if [ -x "$build/ferrovan-bench-hash" ]; then
    read -r speed hashed < <("$build/ferrovan-bench-hash" "$served_mib")
    awk -v s="$speed" -v h="$hashed" -v l="$loader_median" -v m="$served_mib" \
      'BEGIN { printf "BLAKE2b-512 here: %d MB/s, %.3f s for the %d MiB, %.2f times the loader'"'"'s median\n", s, h, m, h / l }'
  fi
fi
echo "$flush_report"
printf 'loader peak resident with a file of %4d MiB: %7d KiB\n' \
  "${flat_sizes[0]}" "${flat_peaks[0]}" "${flat_sizes[1]}" "${flat_peaks[1]}"
