#!/usr/bin/env bash
# Usage: scripts/fetch-debian-source.sh SOURCE BINARY DIR
# Unpacks Debian's source package SOURCE (pugixml, libsodium), of the version that the installed
# package BINARY (libpugixml-dev, libsodium-dev) has on this machine, into DIR/SOURCE (Debian's
# patches applied) and prints that folder. The deb-src entries live in a private apt
# configuration under DIR, made from the machine's own package sources; the machine's apt
# configuration is not touched. Does nothing when DIR already holds that version.
set -euo pipefail

if [ $# -ne 3 ] || [ "$1" = "--help" ]; then
  sed -n '2,7s/^# \{0,1\}//p' "$0"
  [ "${1:-}" = "--help" ] && exit 0 || exit 2
fi
source_package=$1
binary_package=$2
dest=$(realpath -m "$3")
version=$(dpkg-query -W -f='${Version}' "$binary_package" 2>/dev/null) || {
  echo "fetch-debian-source: $binary_package is not installed (scripts/install-deps.sh)" >&2
  exit 1
}
unpacked_to=$dest/$source_package
if [ "$(cat "$unpacked_to/.debian-version" 2>/dev/null)" = "$version" ]; then
  echo "$unpacked_to"
  exit 0
fi

apt_dir=$dest/apt-$source_package
rm -rf "$apt_dir" "$unpacked_to" "$dest/${source_package}_"* "$dest/${source_package}-"*
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
# The machine's Debian sources, each deb entry doubled by a deb-src one.
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >>"$apt_dir/sources.list"
fi
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] || continue
  sed 's/^Types:.*$/Types: deb-src/' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
done
for file in /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] || continue
  sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
done

apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=$(id -un)"
  -o "Acquire::Languages=none"
)
apt-get "${apt_options[@]}" -qq update >&2 || true
# Sources that carry no deb-src entries only warn; the fetch below says whether it was found.
(cd "$dest" && apt-get "${apt_options[@]}" -qq source "$source_package=$version" >&2)
unpacked=$(find "$dest" -maxdepth 1 -type d -name "$source_package-*" | head -n 1)
if [ -z "$unpacked" ]; then
  echo "fetch-debian-source: the source package $source_package=$version could not be unpacked" >&2
  exit 1
fi
mv "$unpacked" "$unpacked_to"
echo "$version" >"$unpacked_to/.debian-version"
echo "$unpacked_to"
