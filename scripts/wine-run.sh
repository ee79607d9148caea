#!/usr/bin/env bash
# Usage: scripts/wine-run.sh PROGRAM.exe [ARGS...]
#        scripts/wine-run.sh --init DIR | --remove DIR
# Runs a Windows program under Wine and exits with its status: a 64-bit program with Wine's 64-bit
# loader, a 32-bit one with its 32-bit loader (Debian's wine32), both in the same prefix. The
# Wine prefix is $FERROVAN_WINEPREFIX, made on first use; without it a prefix is made for this one
# run in a temporary folder and removed afterwards (Wine's first start in a prefix takes ~15 s).
# --init DIR makes DIR a ready prefix with its wineserver and one desktop (without a display) kept
# running, for many programs in turn and at once; --remove DIR stops them and removes DIR.
# No Mono or Gecko prompt, no Wine debug output, no display needed.
set -euo pipefail

usage() { sed -n '2,11s/^# \{0,1\}//p' "$0"; }

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Debian installs both loaders outside PATH, and its `wine` and `wineboot` take the 32-bit one
# whenever wine32 is installed: every prefix is made, and every 64-bit program run, by the 64-bit
# loader itself, so that each prefix is a 64-bit one that runs 32-bit programs too.
wine_program=$(command -v wine64 || true)
[ -n "$wine_program" ] || [ ! -x /usr/lib/wine/wine64 ] || wine_program=/usr/lib/wine/wine64
[ -n "$wine_program" ] || wine_program=$(command -v wine || true)
if [ -z "$wine_program" ] || ! command -v wineserver >/dev/null; then
  echo "wine-run: Wine is not installed (Debian packages wine, wine64)" >&2
  exit 127
fi
wine32_program=/usr/lib/wine/wine

# pe_machine FILE: i386 or x86_64 for a Windows program of that machine, nothing for anything else
# (a name that Wine finds in the prefix, such as cmd.exe, is no file here).
pe_machine() {
  local file=$1 header_at signature
  [ -f "$file" ] && [ "$(head -c 2 "$file" 2>/dev/null)" = MZ ] || return 0
  header_at=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
  [ -n "$header_at" ] || return 0
  # "PE\0\0" and the COFF header's machine, little-endian.
  signature=$(od -An -tx1 -j"$header_at" -N6 "$file" | tr -d ' \n')
  case $signature in
    504500004c01) echo i386 ;;
    504500006486) echo x86_64 ;;
  esac
}

# The loader for PROGRAM: the 32-bit one for a 32-bit program, which it must be able to start.
loader_for() {  # loader_for PROGRAM
  [ "$(pe_machine "$1")" = i386 ] || { echo "$wine_program" && return 0; }
  if [ ! -x "$wine32_program" ]; then
    echo "wine-run: $1 is a 32-bit program and Wine's 32-bit loader is missing" \
      "(Debian package wine32:i386, scripts/install-deps.sh)" >&2
    return 127
  fi
  # Without the kernel's IA-32 emulation no 32-bit program starts at all; say so rather than
  # leave it to Wine's "Application could not be started".
  if ! "$wine32_program" --version >/dev/null 2>&1; then
    echo "wine-run: $1 is a 32-bit program and this kernel cannot run Wine's 32-bit loader" \
      "($wine32_program): it runs no 32-bit program (IA-32 emulation is off)" >&2
    return 126
  fi
  echo "$wine32_program"
}

# make_prefix DIR: runs Wine's first start in the empty prefix DIR (WINEPREFIX) until its registry
# is written. A first start that fails is said with what Wine printed and tried again from an
# empty prefix: once, on a fresh CI machine, it failed with nothing to show why.
make_prefix() {
  local prefix=$1 try status log
  log=$(mktemp "${TMPDIR:-/tmp}/ferrovan-wineboot-XXXXXX.log")
  for try in 1 2 3; do
    status=0
    # Without a display, wineboot cannot show its progress window and says so: not an error.
    DISPLAY="" WAYLAND_DISPLAY="" timeout 300 "$wine_program" wineboot.exe -i >"$log" 2>&1 ||
      status=$?
    # wineboot returns while the set-up still runs; the registry is written when the server
    # that did it ends.
    [ "$status" -ne 0 ] || timeout 300 wineserver -w || status=$?
    if [ "$status" -eq 0 ] && [ -f "$prefix/system.reg" ]; then
      rm -f "$log"
      return 0
    fi
    echo "wine-run: Wine's first start in $prefix failed (try $try, status $status); it printed:" >&2
    tail -n 20 "$log" | sed 's/^/  /' >&2
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    find "$prefix" -mindepth 1 -delete 2>/dev/null || true
  done
  rm -f "$log"
  echo "wine-run: wineboot failed in $prefix" >&2
  return 1
}

init_prefix() {  # init_prefix DIR: a ready prefix whose wineserver stays up until --remove
  local prefix
  prefix=$(realpath -m "$1")
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix
  if [ ! -f "$prefix/system.reg" ]; then
    make_prefix "$prefix" || return 1
  fi
  # By default the server ends soon after its last process; keep one running for the whole test
  # run so that each program starts at once.
  wineserver -p
  # The first program in a prefix starts Wine's own background services, which stay as long as
  # the server and keep the standard streams they were given: start them here, on /dev/null, or
  # they would hold a test's output pipe open and its runner would wait for them to the end.
  "$wine_program" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
}

# Wine closes a desktop a second after the last program on it ends, and the next program that
# needs it starts it again (explorer.exe /desktop). A program that starts while it closes, or
# beside another that starts it, can lose the hidden windows that its downloads report through
# and then wait for ever (seen about once in ten runs of the end-to-end tests under load). Keep
# one desktop for the prefix's life instead: a program that stays on it (cmd.exe reading a pipe
# that nothing writes to) and the desktop itself, started here on /dev/null, because explorer.exe
# takes the standard error of the program that starts it and would hold a test's pipe open.
keep_desktop() {  # keep_desktop DIR: DIR is a ready prefix whose wineserver runs
  local prefix=$1 tries=0
  [ -p "$prefix/desktop-user.pipe" ] || mkfifo "$prefix/desktop-user.pipe"
  : >"$prefix/desktop-user.out"
  DISPLAY="" WAYLAND_DISPLAY="" "$wine_program" cmd.exe <>"$prefix/desktop-user.pipe" \
    >"$prefix/desktop-user.out" 2>&1 &
  # cmd.exe prints its prompt once it runs, which is after it has joined the desktop: the desktop
  # must not see its last user leave before then.
  until grep -q '>' "$prefix/desktop-user.out"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 600 ]; then
      echo "wine-run: the program that keeps the desktop did not start within 60 s" >&2
      return 1
    fi
    sleep 0.1
  done
  # The user32 call that any window needs first: it starts the desktop and waits until it runs.
  DISPLAY="" WAYLAND_DISPLAY="" "$wine_program" rundll32.exe user32.dll,GetDesktopWindow \
    </dev/null >/dev/null 2>&1 || true
}

remove_prefix() {  # remove_prefix DIR
  local prefix
  prefix=$(realpath -m "$1")
  case $prefix in
    / | "$HOME" | "") echo "wine-run: refusing to remove '$prefix'" >&2 && return 1 ;;
  esac
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
    rm -rf "$prefix"
  fi
}

case ${1:-} in
  "" | --help)
    usage
    [ $# -eq 1 ] && exit 0 || exit 2
    ;;
  --init)
    [ $# -eq 2 ] || { usage >&2 && exit 2; }
    init_prefix "$2"
    keep_desktop "$(realpath -m "$2")"
    exit
    ;;
  --remove)
    [ $# -eq 2 ] || { usage >&2 && exit 2; }
    remove_prefix "$2"
    exit
    ;;
esac

status=0
loader=$(loader_for "$1") || exit
if [ -n "${FERROVAN_WINEPREFIX:-}" ]; then
  [ -f "$FERROVAN_WINEPREFIX/system.reg" ] || init_prefix "$FERROVAN_WINEPREFIX"
  export WINEPREFIX=$FERROVAN_WINEPREFIX
  exec "$loader" "$@"
fi

own_prefix=$(mktemp -d "${TMPDIR:-/tmp}/ferrovan-wine-XXXXXX")
trap 'remove_prefix "$own_prefix"' EXIT
init_prefix "$own_prefix"
"$loader" "$@" || status=$?
exit "$status"
