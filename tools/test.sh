#!/usr/bin/env bash
# Fresh machine to passing tests: installs what is missing, builds, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
