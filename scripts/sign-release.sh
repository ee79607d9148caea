#!/usr/bin/env bash
# Usage: scripts/sign-release.sh [-s SECRET_KEY] --release N [--expires YYYY-MM-DDTHH:MM:SSZ] DIR
#        scripts/sign-release.sh --check [-p PUBLIC_KEY] ADDRESS|DIR
# Writes the release manifest FerroVan.Mobile.Release for the files of the release folder DIR
# (the newest loader, the client's six files and the message packages that are there: each
# name, size and BLAKE2b-512) with release number N, and signs it with Debian's minisign and the
# publisher's secret key (by default minisign's own ~/.minisign/minisign.key) into
# FerroVan.Mobile.Release.minisig. It refuses a release whose loader does not carry the signing
# key (a loader built without it would take any release once it had taken over) or whose loader
# has a release number above N. minisign asks for the key's password when it has one.
# --check checks a published release as a device would, from its download folder's address
# (http(s)://SERVER/FerroVanService/WebService/Downloads/) or from a folder: the manifest, its
# signature by PUBLIC_KEY (by default ./minisign.pub), its expiry and every file's size and
# digest; it says what is wrong and exits 1 then.
set -euo pipefail

usage() { sed -n '2,14s/^# \{0,1\}//p' "$0"; }
fail() {
  echo "sign-release: $*" >&2
  exit 1
}
manifest_name=FerroVan.Mobile.Release
loader=FerroVan.Mobile.Client.Load.exe
required=("$loader" Solvane.Mobile.Common.dll Solvane.FerroVan.Mobile.Client.exe
  Solvane.Ferrovan.Mobile.Client.Business.dll Solvane.Ferrovan.Mobile.Client.Common.dll
  Solvane.Ferrovan.Mobile.Client.Data.dll Solvane.Ferrovan.Mobile.GUI.dll)
optional=(NETCFv35.Messages.EN.cab NETCFv35.Messages.EN.wm.cab)

key=() public=() release="" expires="" check=0
while [ $# -gt 0 ]; do
  case $1 in
    -s) [ $# -ge 2 ] || { usage >&2; exit 2; }; key=(-s "$(realpath -- "$2")"); shift 2 ;;
    -p) [ $# -ge 2 ] || { usage >&2; exit 2; }; public=(-p "$2"); shift 2 ;;
    --release) [ $# -ge 2 ] || { usage >&2; exit 2; }; release=$2; shift 2 ;;
    --expires) [ $# -ge 2 ] || { usage >&2; exit 2; }; expires=$2; shift 2 ;;
    --check) check=1; shift ;;
    --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { usage >&2; exit 2; }
command -v minisign >/dev/null || fail "minisign is not installed (Debian package minisign)"

# check_release FOLDER: the manifest and every file in FOLDER against the public key.
check_release() {
  local folder=$1 problems=0 line name size digest actual_size actual_digest now until
  [ -f "$folder/$manifest_name" ] || fail "no $manifest_name"
  [ -f "$folder/$manifest_name.minisig" ] || fail "no $manifest_name.minisig"
  (cd "$folder" && minisign -V -q -H "${public[@]}" -m "$manifest_name") ||
    fail "$manifest_name is not signed by the public key ${public[1]:-./minisign.pub}"
  grep -q $'\tfile:'"$manifest_name"$'\t' "$folder/$manifest_name.minisig" ||
    fail "the signature's trusted comment does not name $manifest_name"
  mapfile -t lines <"$folder/$manifest_name"
  [ "${lines[0]:-}" = "ferrovan-release 1" ] || fail "$manifest_name does not begin 'ferrovan-release 1'"
  [[ ${lines[1]:-} =~ ^release\ [1-9][0-9]*$ ]] || fail "$manifest_name has no 'release N' line"
  echo "release ${lines[1]#release }"
  for line in "${lines[@]:2}"; do
    if [[ $line =~ ^expires\ ([0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z)$ ]]; then
      until=$(date -u -d "${BASH_REMATCH[1]}" +%s) || fail "a bad expiry: $line"
      now=$(date -u +%s)
      if [ "$now" -gt "$until" ]; then
        echo "expired at ${BASH_REMATCH[1]}: devices refuse it" >&2
        problems=1
      else
        echo "expires ${BASH_REMATCH[1]}"
      fi
      continue
    fi
    [[ $line =~ ^file\ ([^ ]+)\ (0|[1-9][0-9]*)\ ([0-9a-f]{128})$ ]] ||
      fail "a malformed line in $manifest_name: $line"
    name=${BASH_REMATCH[1]} size=${BASH_REMATCH[2]} digest=${BASH_REMATCH[3]}
    if [ ! -f "$folder/$name" ]; then
      echo "$name: listed, not served" >&2
      problems=1
      continue
    fi
    actual_size=$(stat -c %s "$folder/$name")
    actual_digest=$(b2sum -l 512 "$folder/$name" | cut -d' ' -f1)
    if [ "$actual_size" != "$size" ] || [ "$actual_digest" != "$digest" ]; then
      echo "$name: differs from its line (size $actual_size, listed $size)" >&2
      problems=1
    else
      echo "$name: matches"
    fi
  done
  for name in "${required[@]}"; do
    grep -q "^file $name " "$folder/$manifest_name" || {
      echo "$name: not listed, so no device installs the release" >&2
      problems=1
    }
  done
  [ "$problems" -eq 0 ] || fail "the release is not as the devices must find it"
  echo "sign-release: the release checks out"
}

if [ "$check" -eq 1 ]; then
  [ ${#key[@]} -eq 0 ] && [ -z "$release" ] && [ -z "$expires" ] || { usage >&2; exit 2; }
  [ ${#public[@]} -gt 0 ] || public=(-p "$PWD/minisign.pub")
  public[1]=$(realpath "${public[1]}")
  source=$1
  if [[ $source =~ ^https?:// ]]; then
    command -v curl >/dev/null || fail "curl is not installed (Debian package curl)"
    folder=$(mktemp -d)
    trap 'rm -rf "$folder"' EXIT
    base=${source%/}/
    for name in "$manifest_name" "$manifest_name.minisig"; do
      curl -fsS --max-filesize 65536 -o "$folder/$name" "$base$name" || fail "cannot fetch $base$name"
    done
    while read -r _ name _; do
      [[ $name =~ ^[A-Za-z0-9.]+$ ]] || fail "a strange name in $manifest_name: $name"
      curl -fsS -o "$folder/$name" "$base$name" || echo "cannot fetch $base$name" >&2
    done < <(grep '^file ' "$folder/$manifest_name" || true)
    check_release "$folder"
  else
    check_release "$source"
  fi
  exit 0
fi

folder=$1
[ ${#public[@]} -eq 0 ] || { usage >&2; exit 2; }
[[ $release =~ ^[1-9][0-9]*$ ]] && [ "${#release}" -le 10 ] && [ "$release" -le 4294967295 ] ||
  fail "--release N is needed, N a whole number from 1 to 4294967295"
if [ -n "$expires" ]; then
  [[ $expires =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] &&
    [ "$(date -u -d "$expires" +%Y-%m-%dT%H:%M:%SZ 2>/dev/null)" = "$expires" ] ||
    fail "--expires takes a valid UTC time written YYYY-MM-DDTHH:MM:SSZ"
fi
files=()
for name in "${required[@]}"; do
  [ -f "$folder/$name" ] || fail "$folder has no $name, which the loader fetches"
  files+=("$name")
done
for name in "${optional[@]}"; do
  [ -f "$folder/$name" ] && files+=("$name")
done

# The loader must trust the key that signs, and must not stand above the release.
public_key=$(mktemp)
trap 'rm -f "$public_key"' EXIT
rm -f "$public_key"
minisign -R -q "${key[@]}" -p "$public_key" >/dev/null || fail "cannot read the secret key"
key_line=$(sed -n 2p "$public_key")
grep -qaF -- "$key_line" "$folder/$loader" ||
  fail "$loader does not carry the signing key: build it with FERROVAN_RELEASE_KEYS naming it"
loader_release=$(grep -ao 'ferrovan-release-number:[0-9]*;' "$folder/$loader" | sort -u)
[ "$(wc -l <<<"$loader_release")" -eq 1 ] && [ -n "$loader_release" ] ||
  fail "$loader carries no release number of its own"
loader_release=${loader_release#ferrovan-release-number:}
loader_release=${loader_release%;}
[ "$loader_release" -le "$release" ] ||
  fail "$loader is release $loader_release, above --release $release: devices would refuse it"

cd "$folder"
{
  echo "ferrovan-release 1"
  echo "release $release"
  [ -z "$expires" ] || echo "expires $expires"
  for name in "${files[@]}"; do
    echo "file $name $(stat -c %s "$name") $(b2sum -l 512 "$name" | cut -d' ' -f1)"
  done
} >"$manifest_name.new"
mv "$manifest_name.new" "$manifest_name"
# From inside the folder, so that the trusted comment names the manifest as devices ask for it.
minisign -S -q "${key[@]}" -m "$manifest_name"
echo "sign-release: release $release of ${#files[@]} files signed in $folder" >&2
