#!/usr/bin/env bash
# Builds the Debian package: a Release build with Debian's hardening flags, then cpack -G DEB.
# Leaves build-package/pos-emulator_<version>_amd64.deb and prints its path (the build talks on stderr).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh dpkg-dev >&2
build=${BUILD_DIR:-build-package}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPOSEMU_BUILD_TESTS=OFF -DPOSEMU_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
cmake --build "$build" -j2 >&2
rm -f "$build"/pos-emulator_*.deb
(cd "$build" && cpack -G DEB > /dev/null)
ls "$build"/pos-emulator_*.deb
