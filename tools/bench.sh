#!/usr/bin/env bash
# Builds and runs every benchmark; each prints one figure a line. Takes about five minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target bench_loader bench_capture bench_startup bench_flood bench_pacing bench_offer bench_lanes
export QT_QPA_PLATFORM=offscreen
for bench in bench_loader bench_capture bench_startup bench_flood bench_pacing bench_offer bench_lanes; do
  echo "# $bench"
  "build/bench/$bench" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
done
