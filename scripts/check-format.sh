#!/usr/bin/env bash
# Usage: scripts/check-format.sh [--fix]
# Fails, naming each file, when a tracked .cpp or .h file is not laid out as .clang-format says
# (braces on every block included, which needs clang-format 15 or later); --fix rewrites them.
# CMake files are never formatted.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 1 ] || { [ $# -eq 1 ] && [ "$1" != "--fix" ]; }; then
  sed -n '2,5s/^# \{0,1\}//p' "$0"
  exit 2
fi
format=${FERROVAN_CLANG_FORMAT:-clang-format-15}
command -v "$format" >/dev/null || {
  echo "check-format: $format is missing (Debian package clang-format-15)" >&2
  exit 1
}

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
unformatted=()
for file in "${files[@]}"; do
  if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
    unformatted+=("$file")
  fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "check-format: not formatted (scripts/check-format.sh --fix formats them):" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
