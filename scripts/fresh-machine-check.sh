#!/usr/bin/env bash
# Runs commands in a fresh clone of this repository inside a pristine Debian 12 root, as on a
# new machine: nothing installed but apt, git and ca-certificates. Shows whether the README's
# commands really install everything they need; CI runs it (.ci/run).
#
#   scripts/fresh-machine-check.sh [--keep] [--rebuild-base] [-- COMMANDS]
#
#   COMMANDS        shell commands run in the clone's top folder, as root (default:
#                   'scripts/demo.sh </dev/null && scripts/test.sh')
#   --keep          leave the root in place afterwards (its path is printed) for a closer look
#   --rebuild-base  make the cached base root anew even when it is less than a week old
#
# Only what is committed on the current branch is cloned, as CI sees it. Needs root (asks sudo
# for it when run as another user), the network, and the mmdebstrap tool (installed when
# missing). The base root is made from Debian's mirror ($FERROVAN_DEBIAN_MIRROR, by default the
# one this machine's apt uses) once a week, about two minutes, and kept in
# /var/cache/ferrovan-fresh-machine/; each run unpacks a new copy under /var/tmp and removes it
# afterwards. CI and FERROVAN_FUZZ_SECONDS are passed on. Exit status: the commands' own.
set -euo pipefail

usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; }
fail() {
  echo "fresh-machine-check: $*" >&2
  exit 2
}

keep=0
rebuild=0
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=1; options+=("$1"); shift ;;
    --rebuild-base) rebuild=1; options+=("$1"); shift ;;
    --) shift; break ;;
    -h|--help) usage; exit 0 ;;
    *) fail "unknown option $1 (see --help)" ;;
  esac
done
commands=${*:-'scripts/demo.sh </dev/null && scripts/test.sh'}

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel) || fail "not inside a git repository"
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "needs root (or sudo)"
  exec sudo --preserve-env=CI,FERROVAN_FUZZ_SECONDS,FERROVAN_DEBIAN_MIRROR "$0" \
    "${options[@]}" -- "$commands"
fi

cache=/var/cache/ferrovan-fresh-machine
base=$cache/bookworm.tar
# The Debian archive this machine's apt already uses (its first source ending in /debian).
host_mirror() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null |
    awk '/^[[:space:]]*#/ { next }
         $1 == "URIs:" { for (i = 2; i <= NF; i++) print $i }
         $1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; break } }' |
    grep -m1 '/debian/\?$' || true
}
mirror=${FERROVAN_DEBIAN_MIRROR:-$(host_mirror)}
[ -n "$mirror" ] || fail "no Debian mirror in this machine's apt sources; set FERROVAN_DEBIAN_MIRROR"
mkdir -p "$cache"
# One maker of the base root at a time; the others wait for it and use it.
exec 9>"$cache/lock"
flock 9
if [ $rebuild -eq 1 ] || [ ! -s "$base" ] || [ -n "$(find "$base" -mtime +7)" ]; then
  if ! command -v mmdebstrap >/dev/null; then
    echo "fresh-machine-check: installing mmdebstrap" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap \
      >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null; }
  fi
  echo "fresh-machine-check: making a pristine Debian 12 root from $mirror" >&2
  rm -f "$cache/new.tar"
  mmdebstrap --quiet --mode=root --format=tar --variant=apt --include=git,ca-certificates \
    bookworm "$cache/new.tar" "$mirror"
  mv "$cache/new.tar" "$base"
fi
flock -u 9

root=$(mktemp -d /var/tmp/ferrovan-fresh-machine.XXXXXX)
mounted=()
cleanup() {
  local status=$?
  set +e
  # Programs the commands left running (a server, an X server) would keep the mounts busy.
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[$i]}" 2>/dev/null || umount -R -l "${mounted[$i]}"
  done
  if grep -q " $root/" /proc/mounts; then
    echo "fresh-machine-check: something is still mounted under $root; left in place" >&2
  elif [ $keep -eq 1 ]; then
    echo "fresh-machine-check: kept $root" >&2
  else
    rm -rf "$root"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

tar -C "$root" -xf "$base"
mount -t proc proc "$root/proc"
mounted+=("$root/proc")
for folder in sys dev; do
  mount --rbind "/$folder" "$root/$folder"
  mount --make-rslave "$root/$folder"
  mounted+=("$root/$folder")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet "$repo" "$root/root/ferrovan"

echo "fresh-machine-check: in a pristine Debian 12 root, $(git -C "$repo" rev-parse --short HEAD):" \
  "$commands" >&2
start=$(date +%s)
environment=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  LANG=C.UTF-8 TERM="${TERM:-dumb}")
for name in CI FERROVAN_FUZZ_SECONDS; do
  [ -n "${!name:-}" ] && environment+=("$name=${!name}")
done
status=0
chroot "$root" /usr/bin/env -i "${environment[@]}" /bin/bash -c "cd /root/ferrovan && $commands" ||
  status=$?
echo "fresh-machine-check: exit status $status after $(($(date +%s) - start)) s" >&2
exit "$status"
