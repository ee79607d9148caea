#!/usr/bin/env bash
# Usage: scripts/wine-window-check.sh LOADER.exe [SCREENSHOT.png]
# The Windows loader's dialog under Wine on a private X server (Xvfb, 480x640), used as a person
# would: on an empty device root the dialog must cover the screen and ask for the address; an
# address typed there and confirmed with Ok must stand in RFConfig.xml exactly as typed; Cancel
# then ends the loader with status 0. With SCREENSHOT, the screen at the first prompt is saved
# there (docs/windows-dialog.png). Uses a Wine prefix of its own, made with the display set so
# that Wine sees the screen's real size. Needs Xvfb, xdotool, ImageMagick and Wine; exits 77
# (skipped) when one is missing, or 1 when FERROVAN_REQUIRE_TOOLS is set.
set -euo pipefail

usage() { sed -n '2,9s/^# \{0,1\}//p' "$0"; }
[ $# -ge 1 ] && [ $# -le 2 ] && [ "$1" != --help ] || { usage >&2 && exit 2; }
loader=$(realpath "$1")
shot_output=${2:+$(realpath -m "$2")}
limit_tenths=600 # every wait below gives up after 60 seconds
width=480 height=640
address='127.0.0.1:9/apps_1-x/' # nothing listens there: the run ends in the prompt again

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

work=$(mktemp -d)
xvfb_pid=
loader_pid=
cleanup() {
  local status=$?
  set +e
  [ -n "$loader_pid" ] && kill "$loader_pid" 2>/dev/null
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
wineboot -i >/dev/null 2>&1 || fail "wineboot failed"

mkdir -p "$work/device"
settings="$work/device/Program Files/FerroVanMobile/RFConfig.xml"
"$wine_program" "$loader" --device-root "$(winepath -w "$work/device")" </dev/null \
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
  import -window root "$work/shot.png" 2>/dev/null || return 1
  local box
  box=$(convert "$work/shot.png" -fill black +opaque '#ffffff' -format '%@' info: 2>/dev/null)
  [[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
  ((BASH_REMATCH[1] > 100 && BASH_REMATCH[2] > 20)) || return 1
  box_width=${BASH_REMATCH[1]} box_height=${BASH_REMATCH[2]}
  box_x=${BASH_REMATCH[3]} box_y=${BASH_REMATCH[4]}
}
# Clicks the point x,y of the template (dialog units) inside the prompt's box.
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

click_at 78 81 # the edit box
xdotool type --delay 30 "$address"
click_at 32 101 # Ok
holds_address() { grep -qsF "<WebHostName>$address</WebHostName>" "$settings"; }
wait_for holds_address || fail "RFConfig.xml does not hold '$address': $(cat "$settings" 2>&1)"

# Ok hid the prompt before the address was saved; it comes back once the download has failed.
wait_for prompt_box || fail "the prompt did not come back after the failed download"
click_at 124 101 # Cancel
ended() { ! kill -0 "$loader_pid" 2>/dev/null; }
wait_for ended || fail "Cancel did not end the loader"
status=0
wait "$loader_pid" || status=$?
loader_pid=
[ "$status" -eq 0 ] || fail "the loader ended with status $status"
echo "wine-window-check: passed"
