#!/usr/bin/env bash
# Makes docs/loader-prompt.png: the loader's window at the address prompt, as a fresh device
# shows it on a 480x640 screen. Runs a private X server (Xvfb) and a scratch device root.
#
#   scripts/screenshot.sh [LOADER [OUTPUT]]
#
# LOADER defaults to build/ferrovan-loader, OUTPUT to docs/loader-prompt.png. Needs Xvfb,
# xdotool, xwd (x11-apps) and ImageMagick's convert. Exits non-zero when no screenshot is made.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
loader=${1:-$top/build/ferrovan-loader}
output=${2:-$top/docs/loader-prompt.png}
limit_tenths=300  # every wait below gives up after 30 seconds

fail() {
  echo "screenshot.sh: $*" >&2
  exit 1
}

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -x "$loader" ] || fail "no loader at $loader (build it, or name it as the first argument)"

work=$(mktemp -d)
xvfb_pid=
loader_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$loader_pid" ] && kill "$loader_pid" 2>/dev/null && wait "$loader_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# Polls "$@" every tenth of a second until it succeeds or the limit passes.
wait_for() {
  local tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ "$tries" -lt "$limit_tenths" ] || return 1
    sleep 0.1
  done
}

# Xvfb picks a free display and writes its number once it accepts connections.
Xvfb -displayfd 3 -screen 0 480x640x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for grep -qs '[0-9]' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"

mkdir -p "$work/device"
"$loader" --device-root "$work/device" --ui window </dev/null >"$work/loader.log" 2>&1 &
loader_pid=$!

window_shown() { [ -n "$(xdotool search --onlyvisible --class FerroVanLoader 2>/dev/null)" ]; }
wait_for window_shown || fail "the loader's window did not appear (see its output: $(cat "$work/loader.log"))"

shoot() { xwd -root -silent | convert xwd:- "png:$1"; }

# The status line starts 38 dialog units from the top and the prompt's buttons end at 108, while
# the status line alone ends by 66: whatever the font's size, the drawn area reaches more than
# twice as far down as it starts only when the prompt shows.
prompt_shown() {
  shoot "$work/shot.png" || return 1
  local box
  box=$(convert "$work/shot.png" -format '%@' info: 2>/dev/null) || return 1
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
  local height=${BASH_REMATCH[2]} start=${BASH_REMATCH[4]}
  ((start > 0 && (start + height) * 10 > start * 22))
}
wait_for prompt_shown || fail "the address prompt did not appear"

mkdir -p "$(dirname "$output")"
shoot "$output"
echo "wrote $output"
