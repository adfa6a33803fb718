#!/usr/bin/env bash
# One version and one date everywhere: the CMake project's version is debian/changelog's, and the
# AppStream metadata (of each package) has a release of that version on the changelog's date.
#   check_release.sh SOURCE_DIR PROJECT_VERSION
set -euo pipefail
src=$1 version=$2
changelog_version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
changelog_date=$(date -u -d "$(dpkg-parsechangelog -l "$src/debian/changelog" -S Date)" +%Y-%m-%d)
if [ "$changelog_version" != "$version" ]; then
  echo "debian/changelog is at $changelog_version, the project at $version"
  exit 1
fi
for metainfo in "$src"/res/desktop/*.metainfo.xml; do
  if ! grep -q "<release version=\"$version\" date=\"$changelog_date\"" "$metainfo"; then
    echo "$(basename "$metainfo") has no release $version dated $changelog_date (the changelog's date)"
    exit 1
  fi
done
echo "version $version of $changelog_date everywhere"
