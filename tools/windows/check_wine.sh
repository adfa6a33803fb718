#!/usr/bin/env bash
# End-to-end checks of the Windows programs under Wine, against the Linux build (LINUX_BUILD,
# default build/): pos-player.exe plays each sample POS to the Linux ocs-sim on loopback and the
# frames the simulator received (checksums included) equal those of the Linux pos-player; over a
# pseudo-terminal linked as COM5 it sends the same bytes with the line settings asked for.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/windows/env.sh
wine_prepare
linux=${LINUX_BUILD:-build}
player_exe=$WIN_BUILD/tools/pos-player/pos-player.exe
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/POS"
cp POS/*.vlq "$work/POS/"

# Frames as the simulator printed them, without time stamps and peers.
frames() {
  sed -nE 's/^[0-9:.]+ TCP [0-9.:]+ +(<.*)$/\1/p' "$1"
}
# Plays one POS with a player (the rest of the arguments) to a fresh simulator; prints its frames.
play_tcp() {
  local pos=$1 out=$2
  shift 2
  "$linux/tools/ocs-sim/ocs-sim" --listen 127.0.0.95 --reply '<06>' > "$out.sim" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do grep -q listening "$out.sim" && break; sleep 0.1; done
  (cd "$work" && "$@" "$pos" --tcp 127.0.0.95 --passes 1 > "$out.player" 2>&1) ||
    { echo "player failed:"; cat "$out.player"; exit 1; }
  sleep 0.3
  kill -INT "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=""
  frames "$out.sim" > "$out"
}

failed=0
for file in POS/*.vlq; do
  pos=$(basename "$file" .vlq)
  play_tcp "$pos" "$work/linux.txt" "$PWD/$linux/tools/pos-player/pos-player"
  play_tcp "$pos" "$work/windows.txt" wine "$PWD/$player_exe"
  if [ ! -s "$work/linux.txt" ] || ! cmp -s "$work/linux.txt" "$work/windows.txt"; then
    echo "TCP, $pos: pos-player.exe sent other frames than pos-player"
    diff "$work/linux.txt" "$work/windows.txt" | head -20 || true
    failed=1
  else
    echo "TCP, $pos: $(wc -l < "$work/linux.txt") frames, the same from pos-player.exe under Wine"
  fi
done

# Serial: the Linux player through the ports folder, the Windows one through Wine's COM5, which Wine
# sets up from its registry when it starts (a link of our own in dosdevices would be taken away).
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$work/com5" /f > /dev/null 2>&1
wineserver -k 2> /dev/null || true
serial_args=(--serial COM5 --baud 19200 --stop-bits 2 --flow Hardware --passes 1)
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Veltrin Applications/ports"
for file in POS/*.vlq; do
  pos=$(basename "$file" .vlq)
  (cd "$work" && python3 "$OLDPWD/tools/windows/serial_reader.py" "$XDG_CONFIG_HOME/Veltrin Applications/ports/COM5" \
    "$OLDPWD/$linux/tools/pos-player/pos-player" "$pos" "${serial_args[@]}") > "$work/serial-linux.txt"
  (cd "$work" && python3 "$OLDPWD/tools/windows/serial_reader.py" "$work/com5" \
    wine "$OLDPWD/$player_exe" "$pos" "${serial_args[@]}") > "$work/serial-windows.txt"
  settings=$(head -n 1 "$work/serial-windows.txt")
  if [ "$settings" != "baud 19200, stop bits 2, hardware flow on" ]; then
    echo "serial, $pos: pos-player.exe set the line to: $settings"
    failed=1
  elif ! cmp -s "$work/serial-linux.txt" "$work/serial-windows.txt"; then
    echo "serial, $pos: pos-player.exe sent other bytes than pos-player"
    diff "$work/serial-linux.txt" "$work/serial-windows.txt" | head -20 || true
    failed=1
  else
    echo "serial, $pos: $(($(wc -l < "$work/serial-windows.txt") - 1)) frames at $settings, the same as pos-player"
  fi
done
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d '' /f > /dev/null 2>&1
[ $failed -eq 0 ] || { echo "Windows end-to-end checks failed"; exit 1; }
echo "Windows end-to-end checks passed"
