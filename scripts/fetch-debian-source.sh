#!/usr/bin/env bash
# Usage: scripts/fetch-pugixml-source.sh DIR
# Unpacks Debian's source package of pugixml, of the version that libpugixml-dev has on this
# machine, into DIR/pugixml (Debian's patches applied) and prints that folder. The deb-src entries
# live in a private apt configuration under DIR, made from the machine's own package sources; the
# machine's apt configuration is not touched. Does nothing when DIR already holds that version.
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "--help" ]; then
  sed -n '2,6s/^# \{0,1\}//p' "$0"
  [ $# -eq 1 ] && exit 0 || exit 2
fi
dest=$(realpath -m "$1")
version=$(dpkg-query -W -f='${Version}' libpugixml-dev 2>/dev/null) || {
  echo "fetch-pugixml-source: libpugixml-dev is not installed (scripts/install-deps.sh)" >&2
  exit 1
}
if [ "$(cat "$dest/pugixml/.debian-version" 2>/dev/null)" = "$version" ]; then
  echo "$dest/pugixml"
  exit 0
fi

apt_dir=$dest/apt
rm -rf "$apt_dir" "$dest/pugixml" "$dest"/pugixml_* "$dest"/pugixml-*
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
# Sources that carry no deb-src entries only warn; the fetch below says whether pugixml was found.
apt-get "${apt_options[@]}" -qq update >&2 || true
(cd "$dest" && apt-get "${apt_options[@]}" -qq source "pugixml=$version" >&2)
unpacked=$(find "$dest" -maxdepth 1 -type d -name 'pugixml-*' | head -n 1)
if [ -z "$unpacked" ] || [ ! -f "$unpacked/src/pugixml.cpp" ]; then
  echo "fetch-pugixml-source: the source package pugixml=$version could not be unpacked" >&2
  exit 1
fi
mv "$unpacked" "$dest/pugixml"
echo "$version" >"$dest/pugixml/.debian-version"
echo "$dest/pugixml"
