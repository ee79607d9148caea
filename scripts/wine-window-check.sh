#!/usr/bin/env bash
# Usage: scripts/wine-window-check.sh [--service SERVICE] LOADER.exe [SCREENSHOT.png]
# The Windows loader's dialog under Wine on a private X server (Xvfb, 480x640), used as a person
# would, against a download service (SERVICE, by default build/ferrovan-download-service) whose
# newest loader never comes. On an empty device root the dialog must cover the screen and ask for
# the address, with the focus in the edit box; an address typed there and confirmed with Enter
# must stand in RFConfig.xml exactly as typed. While the loader then waits on the server, Enter
# and clicks on the hidden buttons must change nothing (one request, the address kept), and the
# stalled download must give up (FERROVAN_DOWNLOAD_STALL_SECONDS, here 3) and bring the prompt
# back with the address selected, so that a new one typed replaces it; Cancel then ends the
# loader with status 0. With SCREENSHOT, the screen at the first prompt is saved there
# (docs/windows-dialog.png). Uses a Wine prefix of its own, made with the display set so that
# Wine sees the screen's real size. Needs Xvfb, xdotool, ImageMagick and Wine; exits 77
# (skipped) when one is missing, or 1 when FERROVAN_REQUIRE_TOOLS is set.
set -euo pipefail

usage() { sed -n '2,15s/^# \{0,1\}//p' "$0"; }
service=$(dirname "$0")/../build/ferrovan-download-service
if [ "${1:-}" = --service ]; then
  [ $# -ge 2 ] || { usage >&2 && exit 2; }
  service=$2
  shift 2
fi
[ $# -ge 1 ] && [ $# -le 2 ] && [ "$1" != --help ] || { usage >&2 && exit 2; }
loader=$(realpath "$1")
shot_output=${2:+$(realpath -m "$2")}
limit_tenths=600 # every wait below gives up after 60 seconds
width=480 height=640

fail() {
  echo "wine-window-check: $*" >&2
  exit 1
}

wine_program=$(command -v wine64 || true)
[ -n "$wine_program" ] || [ ! -x /usr/lib/wine/wine64 ] || wine_program=/usr/lib/wine/wine64
for tool in Xvfb xdotool convert import wineboot wineserver winepath "$wine_program"; do
  if [ -z "$tool" ] || ! command -v "$tool" >/dev/null; then
    [ -n "${FERROVAN_REQUIRE_TOOLS:-}" ] && [ "$FERROVAN_REQUIRE_TOOLS" != 0 ] &&
      fail "${tool:-wine64} is not installed (required: FERROVAN_REQUIRE_TOOLS is set)"
    echo "wine-window-check: ${tool:-wine64} is not installed; skipped" >&2
    exit 77
  fi
done
[ -f "$loader" ] || fail "no loader at $loader"
[ -x "$service" ] || fail "no download service at $service (build the Linux project)"

work=$(mktemp -d)
xvfb_pid=
loader_pid=
service_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$loader_pid" ] && kill "$loader_pid" 2>/dev/null
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -w 2>/dev/null
  [ -n "$loader_pid" ] && wait "$loader_pid" 2>/dev/null
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
Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
wait_for grep -qs '[0-9]' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit Wine loader makes the prefix and names the device root, and wine-run.sh starts the
# loader on the Wine loader of its machine: with wine32 installed, Debian's wineboot and winepath
# would take the 32-bit one.
"$wine_program" wineboot.exe -i >/dev/null 2>&1 || fail "wineboot failed"

# The service takes every request for the newest loader and never answers it.
mkdir -p "$work/served"
: >"$work/service.out"
"$service" --folder "$work/served" --silent FerroVan.Mobile.Client.Load.exe \
  --log "$work/requests.log" >"$work/service.out" 2>"$work/service.log" &
service_pid=$!
listening() { grep -q '^listening on http://' "$work/service.out"; }
wait_for listening || fail "the download service did not start: $(cat "$work/service.log")"
port=$(sed -n 's|^listening on http://127.0.0.1:\([0-9]*\)$|\1|p' "$work/service.out")
address="127.0.0.1:$port/"
second_address="http://127.0.0.1:$port/FerroVanService/"
requests() { grep -c . "$work/requests.log" 2>/dev/null || true; }

mkdir -p "$work/device"
settings="$work/device/Program Files/FerroVanMobile/RFConfig.xml"
device_root=$("$wine_program" winepath.exe -w "$work/device" 2>/dev/null)
FERROVAN_DOWNLOAD_STALL_SECONDS=3 FERROVAN_WINEPREFIX=$WINEPREFIX \
  "$(dirname "$0")/wine-run.sh" "$loader" --device-root "$device_root" </dev/null \
  >"$work/loader.log" 2>&1 &
loader_pid=$!

dialog_window() { xdotool search --onlyvisible --classname ferrovan-loader.exe 2>/dev/null | head -n 1; }
dialog_shown() { [ -n "$(dialog_window)" ]; }
wait_for dialog_shown ||
  fail "the dialog did not appear (its output: $(cat "$work/loader.log"))"
geometry=$(xdotool getwindowgeometry "$(dialog_window)")
[[ $geometry == *"Position: 0,0"* && $geometry == *"Geometry: ${width}x${height}"* ]] ||
  fail "the dialog does not cover the ${width}x${height} screen: $geometry"

# The edit box and the buttons are the only white on the dialog: their box, in pixels, is the
# template's 7,74 to 149,108 in dialog units. Empty while the prompt is hidden.
prompt_box() {
  # A button under the pointer is drawn highlighted, no longer white, and would narrow the box:
  # the clicks worked out from it would then land beside their buttons (Ok instead of Cancel).
  xdotool mousemove 0 0
  import -window root "$work/shot.png" 2>/dev/null || return 1
  local box
  box=$(convert "$work/shot.png" -fill black +opaque '#ffffff' -format '%@' info: 2>/dev/null)
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
  ((BASH_REMATCH[1] > 100 && BASH_REMATCH[2] > 20)) || return 1
  box_width=${BASH_REMATCH[1]} box_height=${BASH_REMATCH[2]}
  box_x=${BASH_REMATCH[3]} box_y=${BASH_REMATCH[4]}
}
# Clicks the point x,y of the template (dialog units) inside the prompt's box, as last found.
click_at() {
  xdotool mousemove $((box_x + ($1 - 7) * box_width / 142)) \
    $((box_y + ($2 - 74) * box_height / 34)) click 1
}

wait_for prompt_box || fail "the address prompt did not appear"
if [ -n "$shot_output" ]; then
  mkdir -p "$(dirname "$shot_output")"
  cp "$work/shot.png" "$shot_output"
  echo "wrote $shot_output"
fi

# The prompt has the keyboard focus: typing goes into the edit box, Enter presses Ok.
xdotool type --delay 30 "$address"
xdotool key Return
holds() { grep -qsF "<WebHostName>$1</WebHostName>" "$settings"; }
wait_for holds "$address" || fail "RFConfig.xml does not hold '$address': $(cat "$settings" 2>&1)"

# The loader now waits on the server for the newest loader. Enter reaches the hidden default
# button and clicks fall where Ok and Cancel were: none of it may act.
asked() { [ "$(requests)" -ge 1 ]; }
wait_for asked || fail "the loader did not ask the server for the newest loader"
for _ in 1 2 3; do xdotool key Return; done
click_at 32 101  # where Ok was
click_at 124 101 # where Cancel was
kill -0 "$loader_pid" 2>/dev/null || fail "a click on the hidden Cancel ended the loader"

# The stalled download gives up, and the prompt comes back.
wait_for prompt_box || fail "the prompt did not come back after the stalled download"
holds "$address" || fail "RFConfig.xml changed while the loader worked: $(cat "$settings" 2>&1)"
[ "$(requests)" -eq 1 ] || fail "$(requests) requests: a second run started beside the first"

# The edit box holds the address, selected: what is typed replaces it.
xdotool type --delay 30 "$second_address"
xdotool key Return
wait_for holds "$second_address" ||
  fail "RFConfig.xml does not hold '$second_address' alone: $(cat "$settings" 2>&1)"
# Once the second run has asked the server, the prompt is hidden until that run gives up; a
# screenshot taken earlier could still show it.
asked_again() { [ "$(requests)" -ge 2 ]; }
wait_for asked_again || fail "the second run did not ask the server"
wait_for prompt_box || fail "the prompt did not come back after the second run"
# Cancel acts only while the prompt shows: click until the loader has ended.
ended() { ! kill -0 "$loader_pid" 2>/dev/null; }
cancel_until_ended() {
  click_at 124 101
  sleep 0.2
  ended
}
wait_for cancel_until_ended || fail "Cancel did not end the loader"
status=0
wait "$loader_pid" || status=$?
loader_pid=
[ "$status" -eq 0 ] || fail "the loader ended with status $status"
echo "wine-window-check: passed"
