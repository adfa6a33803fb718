#!/usr/bin/env bash
# Fresh machine to a running emulator: installs what is missing, builds, starts the simulated OCS on
# 127.0.0.1 in the background (its frames print here) and opens the program from the repository's
# root, where it finds the sample POS definitions in POS/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "tools/run.sh opens a window and needs a display: run it in a desktop session, or on a virtual"
  echo "display with: xvfb-run tools/run.sh   (Debian package xvfb)"
  exit 1
fi
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target pos-emulator ocs-sim
sim=""
if build/tools/ocs-sim/ocs-sim --help >/dev/null; then
  build/tools/ocs-sim/ocs-sim --listen 127.0.0.1 --reply "<06>" &
  sim=$!
  # Its last line comes before the shell's prompt: the simulator is waited for.
  trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null || true' EXIT
  sleep 0.3
  kill -0 "$sim" 2>/dev/null || { echo "ocs-sim could not start (is 127.0.0.1:48501 in use?)"; sim=""; }
fi
build/app/pos-emulator
