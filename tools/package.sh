#!/usr/bin/env bash
# Builds the Debian packages as Debian builds them: dpkg-buildpackage and debhelper make the source
# package and from it pos-emulator-tools, pos-emulator and their -dbgsym packages, with Debian's
# flags only. Builds from a copy of the tree whose files all carry the changelog's date, so that two
# builds of the same tree give the same bytes. Leaves everything in build-package/ (or PACKAGE_DIR)
# and prints the path of the .changes file last; the build talks on stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh dpkg-dev debhelper >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# What debian/control asks for, if any of it is missing.
if ! dpkg-checkbuilddeps > /dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get build-dep -y ./ >&2
fi
out=$(realpath -m "${PACKAGE_DIR:-build-package}")
version=$(dpkg-parsechangelog -S Version)
epoch=$(dpkg-parsechangelog -S Timestamp)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
src="$work/pos-emulator-$version"
mkdir "$src"
# The files of the repository (committed or not), never a build folder's.
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
  [ -e "$f" ] && cp --parents -P -- "$f" "$src/"
done
find "$src" -exec touch -h -d "@$epoch" {} +
(cd "$src" && dpkg-buildpackage -us -uc -j2) >&2
rm -rf "$out"
mkdir -p "$out"
find "$work" -maxdepth 1 -type f -exec mv -t "$out" {} +
ls "$out"/pos-emulator_"$version"_*.changes
