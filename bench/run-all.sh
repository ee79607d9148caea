#!/usr/bin/env bash
# Runs every benchmark once and prints their figures: the everyday start (the console, and the
# window when Xvfb is there) against a direct start, a /bin/sh script and the smallest starter;
# the window's start against its floor; and the downloads against curl with peak resident
# sizes. Asserts nothing.
#
#   bench/run-all.sh [BUILD_DIR]     (default build/; build it first, benchmark targets included)
#   START_RUNS, WINDOW_RUNS, DOWNLOAD_RUNS override the number of runs of each (200, 50, 5).
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
for program in ferrovan-bench-start ferrovan-bench-window; do
  [ -x "$build/$program" ] || {
    echo "run-all.sh: $build/$program is missing: cmake --build $build --target $program" >&2
    exit 1
  }
done

echo "== everyday start (files present: the console, and the window on a private Xvfb)"
"$build/ferrovan-bench-start" "${START_RUNS:-200}"
echo
echo "== window's start (until its first complete drawing)"
"$build/ferrovan-bench-window" "${WINDOW_RUNS:-50}"
echo
echo "== downloads (six files from nginx on loopback)"
"$repo/bench/downloads.sh" "${DOWNLOAD_RUNS:-5}" "$build"
