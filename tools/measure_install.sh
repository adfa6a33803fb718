#!/usr/bin/env bash
# What installing the packages pulls into a minimal Debian 12: a debootstrap --variant=minbase chroot,
# then apt-get install --no-install-recommends of each package (the tools alone, then the window),
# printing the packages and disk space apt reports. Needs root and Debian's mirror; not part of CI.
#   measure_install.sh FOLDER   (the folder tools/package.sh filled)
set -euo pipefail
folder=$(realpath "$1")
bash "$(dirname "$0")/setup.sh" debootstrap >&2
root=$(mktemp -d)
trap 'umount "$root/proc" 2> /dev/null || true; rm -rf "$root"' EXIT
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >&2
mount -t proc proc "$root/proc"
chroot "$root" apt-get update >&2
measure() { # label, debs...
  local label=$1
  shift
  cp "$@" "$root/tmp/"
  local names=()
  for deb in "$@"; do names+=("/tmp/$(basename "$deb")"); done
  local report
  report=$(chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${names[@]}" 2>&1)
  echo "$label: $(grep -E 'newly installed' <<< "$report")"
  echo "$label: $(grep -E 'additional disk space' <<< "$report")"
}
measure pos-emulator-tools "$folder"/pos-emulator-tools_*_*.deb
measure "pos-emulator (after the tools)" $(ls "$folder"/pos-emulator_*_*.deb | grep -v dbgsym)
