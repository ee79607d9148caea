#!/usr/bin/env bash
# Builds and runs every test three ways: a normal build with warnings as errors, a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded tests under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
# No test reads the terminal; an open standard input also keeps descriptor 0 from being handed
# to a pipe when the caller closed it.
exec </dev/null
scripts/install-deps.sh

jobs=$(nproc)

run() {  # run <build folder> <ctest label filter or ""> <cmake options...>
  local folder=$1 label=$2
  shift 2
  echo "=== $folder: configure and build" >&2
  cmake -S . -B "$folder" -DFERROVAN_WERROR=ON "$@" >/dev/null
  cmake --build "$folder" -j "$jobs" >/dev/null
  echo "=== $folder: tests" >&2
  if [ -n "$label" ]; then
    ctest --test-dir "$folder" --output-on-failure -j "$jobs" -L "$label"
  else
    ctest --test-dir "$folder" --output-on-failure -j "$jobs"
  fi
}

run build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan "" -DCMAKE_BUILD_TYPE=Debug -DFERROVAN_SANITIZE=address
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
  run build-tsan "threaded|window" -DCMAKE_BUILD_TYPE=Debug -DFERROVAN_SANITIZE=thread
