#!/usr/bin/env bash
# Usage: scripts/arm-binfmt.sh --register | --remove | --help
# Lets this machine start 32-bit ARM programs by themselves, as a device does, through qemu-user:
# --register mounts the kernel's binfmt_misc where the machine has not and registers
# qemu-arm-static for little-endian ARM executables under the name ferrovan-arm; --remove takes
# away what --register did. Needs root (or sudo). The programs find their libraries where
# QEMU_LD_PREFIX names a sysroot (build-armel/sysroot).
set -euo pipefail

usage() { sed -n '2,7s/^# \{0,1\}//p' "$0"; }
case ${1:-} in
  --register | --remove) ;;
  --help) usage && exit 0 ;;
  *) usage >&2 && exit 2 ;;
esac

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
folder=/proc/sys/fs/binfmt_misc
entry=$folder/ferrovan-arm
# Set when this script mounted binfmt_misc, so that --remove unmounts only its own mount.
mounted_mark=${TMPDIR:-/tmp}/ferrovan-arm-binfmt.mounted

if [ "$1" = "--remove" ]; then
  [ ! -e "$entry" ] || echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
  if [ -e "$mounted_mark" ]; then
    "${as_root[@]}" umount "$folder" 2>/dev/null || true
    rm -f "$mounted_mark"
  fi
  exit 0
fi

interpreter=$(command -v qemu-arm-static || true)
if [ -z "$interpreter" ]; then
  echo "arm-binfmt: qemu-arm-static is not installed (Debian package qemu-user-static)" >&2
  exit 1
fi
if [ ! -e "$folder/register" ]; then
  "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$folder"
  touch "$mounted_mark"
fi
# A registration left by a run that was killed.
[ ! -e "$entry" ] || echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
# ELF, 32-bit, little-endian, executable or shared object, machine 40 (ARM). F: the kernel opens
# the interpreter now, so it is found from a chroot or another mount namespace too. Without P,
# the kernel starts qemu with the program's path in place of its first argument, which is how the
# device's process list names an emulated program.
magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":ferrovan-arm:M::$magic:$mask:$interpreter:F" | "${as_root[@]}" tee "$folder/register" >/dev/null
echo "arm-binfmt: ARM programs start through $interpreter" >&2
