#!/usr/bin/env bash
# Builds the libFuzzer programs of tests/fuzz in build-fuzz/ (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its seeds.
#
#   scripts/fuzz.sh [--seconds N] [NAME...]
#
# NAME is settings_file, download_url, format_text, split_parameters, wildcard, minisign or
# release_manifest (default: all of them); N is the time per program, $FERROVAN_FUZZ_SECONDS or
# else 30. Prints the executions each program reached. A crash, a hang or a property that does
# not hold fails the script and keeps the input in build-fuzz/crashes/; `build-fuzz/fuzz-NAME
# FILE` replays it. What a run adds to the corpus stays in build-fuzz/corpus/NAME/ for the next
# run; the seeds stay in tests/fuzz/corpus/NAME/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FERROVAN_FUZZ_SECONDS:-30}
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) names+=("$1"); shift ;;
  esac
done
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: seconds must be a whole number" >&2; exit 2; }
[ ${#names[@]} -gt 0 ] ||
  names=(settings_file download_url format_text split_parameters wildcard minisign release_manifest
    kept_record)
for name in "${names[@]}"; do
  [ -d "tests/fuzz/corpus/$name" ] || { echo "fuzz.sh: no fuzz program $name" >&2; exit 2; }
done

scripts/install-deps.sh
# libFuzzer comes with clang, but its runtime is a package of its own that clang only
# recommends: try the whole chain on a tiny program rather than trusting clang's presence.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
  >"$probe/log" 2>&1; then
  cat "$probe/log" >&2
  echo "fuzz.sh: clang cannot build a libFuzzer program: install the Debian packages clang and" \
    "libclang-rt-14-dev (scripts/install-deps.sh does)" >&2
  exit 1
fi

build="build-fuzz"
echo "=== $build: configure and build" >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DFERROVAN_FUZZ=ON -DFERROVAN_WERROR=ON -DFERROVAN_REQUIRE_WINDOW=ON >/dev/null
targets=()
for name in "${names[@]}"; do
  targets+=("fuzz-${name//_/-}")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

# A run that crashes keeps its scratch device root for a look; here, not in the system's /tmp.
export TMPDIR=$PWD/$build/tmp
mkdir -p "$TMPDIR" "$build/crashes"
failed=()
for name in "${names[@]}"; do
  program=$build/fuzz-${name//_/-}
  corpus=$build/corpus/$name
  log=$build/fuzz-$name.log
  mkdir -p "$corpus"
  status=0
  "$program" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$name-" "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" -eq 0 ]; then
    printf '%-18s %12s executions in %s s\n' "$name" "${runs:-?}" "$seconds"
  else
    printf '%-18s FAILED (status %s) after %s executions\n' "$name" "$status" "${runs:-?}"
    grep -E '^(property failed|==[0-9]+==ERROR|SUMMARY|artifact_prefix)|^  [^ ]' "$log" | head -20 >&2 || true
    echo "  whole log: $log" >&2
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]}; inputs in $build/crashes/" >&2
  exit 1
fi
