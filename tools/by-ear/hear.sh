#!/bin/bash
# Plays a step file to POS Emulator under the Orca screen reader and prints what Orca says after each
# step (../shared/tools/orca-speech). Run from the project's root after a build:
#     tools/by-ear/hear.sh tools/by-ear/run-stop-serial.steps [BUILD-FOLDER]
# The step file's "# setup:" line chooses the profile and the peer:
#   network   the order "Lane" over TCP to a simulated OCS on 127.0.0.61
#   serial    the same over COM1, the simulator serving a pseudo-terminal there
#   no-ocs    over TCP to 127.0.0.62, where nothing listens
#   fifo      over TCP to the simulator, the POS file a FIFO (cannot be read)
#   no-pos    the stored POS's file is gone
#   wizard    no profile yet: the setup wizard opens first
# Each run starts from a fresh profile and folder.
set -euo pipefail
steps=$(realpath "$1")
build=$(realpath "${2:-build}")
speech=$(realpath "$(dirname "$0")/../../../shared/tools/orca-speech")
setup=$(sed -n 's/^# setup: *//p' "$steps" | head -n 1)
work=$(mktemp -d)
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
home=$work/home
conf="$home/.config/Veltrin Applications"
mkdir -p "$conf" "$work/POS"
printf '<c>order 1\n<02>1 BURGER<03>\n<02>1 FRIES<03>\n<p>1\n<02>TOTAL 5.49<03>\n' >"$work/POS/Lane.vlq"
link="Use%20Network=1\nUse%20Serial=0\nIP%20Address=127.0.0.61"
pos=Lane
case "$setup" in
network) ;;
serial) link="Use%20Network=0\nUse%20Serial=1\nPort%20Selection=COM1\nAutodetect=0" ;;
no-ocs) link="Use%20Network=1\nUse%20Serial=0\nIP%20Address=127.0.0.62" ;;
fifo) pos=Fifo && mkfifo "$work/POS/Fifo.vlq" ;;
no-pos) pos=Gone ;;
wizard) ;;
*) echo "hear.sh: unknown setup '$setup' in $steps" >&2 && exit 2 ;;
esac
printf '[General]\nShow%%20Wizard%%20on%%20Startup=0\n\n[Communications]\n%b\n\n[Point%%20of%%20Sale]\nPOS%%20Interface=%s\n' \
    "$link" "$pos" >"$conf/pos-emulator.conf"
[ "$setup" = wizard ] && rm "$conf/pos-emulator.conf"
if [ "$setup" != no-ocs ]; then
    serial=()
    [ "$setup" = serial ] && serial=(--serial COM1)
    HOME=$home XDG_CONFIG_HOME=$home/.config "$build/tools/ocs-sim/ocs-sim" --listen 127.0.0.61 \
        "${serial[@]}" --reply "<06>" >"$work/sim.log" 2>&1 &
    sim=$!
    sleep 1
fi
cd "$work"
"$speech" --env HOME="$home" --env XDG_CONFIG_HOME="$home/.config" -- "$build/app/pos-emulator" <"$steps"
