#!/usr/bin/env bash
# End-to-end checks of the Windows programs under Wine, against the Linux build (LINUX_BUILD,
# default build/): pos-player.exe plays each sample POS to the Linux ocs-sim on loopback and the
# frames the simulator received (checksums included) equal those of the Linux pos-player; over a
# pseudo-terminal linked as COM5 it sends the same bytes with the line settings asked for; Ctrl+C
# typed into a Wine console ends it as on Linux, with its capture written; --detect finds an OCS that
# answers at 19200 baud, odd parity only, through the Windows probe; a lanes file of four TCP lanes
# plays as on Linux; bench_pacing.exe prints the pacing figures under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/setup.sh xvfb xauth xdotool >&2
source tools/windows/env.sh
need_display "$@"
wine_prepare
player_exe=$WIN_BUILD/tools/pos-player/pos-player.exe
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null || true
  wineserver -k 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/POS"
cp POS/*.vlq "$work/POS/"

# Frames as the simulator printed them, without time stamps and peers.
frames() {
  sed -nE 's/^[0-9:.]+ TCP [0-9.:]+ on [0-9]+ +(<.*)$/\1/p' "$1"
}
# Plays one POS with a player (the rest of the arguments) to a fresh simulator; prints its frames.
play_tcp() {
  local pos=$1 out=$2
  shift 2
  sim_start 127.0.0.95 "$out.sim"
  (cd "$work" && "$@" "$pos" --tcp 127.0.0.95 --passes 1 > "$out.player" 2>&1) ||
    { echo "player failed:"; cat "$out.player"; exit 1; }
  sleep 0.3
  sim_stop
  frames "$out.sim" > "$out"
}

failed=0
for file in POS/*.vlq; do
  pos=$(basename "$file" .vlq)
  play_tcp "$pos" "$work/linux.txt" "$PWD/$LINUX_BUILD/tools/pos-player/pos-player"
  play_tcp "$pos" "$work/windows.txt" wine "$PWD/$player_exe"
  if [ ! -s "$work/linux.txt" ] || ! cmp -s "$work/linux.txt" "$work/windows.txt"; then
    echo "TCP, $pos: pos-player.exe sent other frames than pos-player"
    diff "$work/linux.txt" "$work/windows.txt" | head -20 || true
    failed=1
  else
    echo "TCP, $pos: $(wc -l < "$work/linux.txt") frames, the same from pos-player.exe under Wine"
  fi
done

# A lab of four TCP lanes in one pos-player.exe: each lane's OCS (a port of one simulator) gets the
# frames it gets from the Linux player's lanes; one capture file a lane, one report, a suite a lane.
printf '[Lane %d]\ntcp = 127.0.0.95:4851%d\n%s\n' 1 1 '' 2 2 'pos = Drive Thru Basic' 3 3 'checksum = no' \
  4 4 'passes = 2' > "$work/lab.ini"
for player in "$PWD/$LINUX_BUILD/tools/pos-player/pos-player" "wine $PWD/$player_exe"; do
  side=$([ "${player#wine}" = "$player" ] && echo linux || echo windows)
  "$LINUX_BUILD/tools/ocs-sim/ocs-sim" --listen 127.0.0.95 --port 48511-48514 --reply '<06>' > "$work/lab-$side.sim" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ "$(grep -c listening "$work/lab-$side.sim")" -eq 4 ] && break; sleep 0.1; done
  (cd "$work" && $player "PC-POS 3" --lanes lab.ini --expect "<06>" --capture "caps-$side" \
    --junit "lab-$side.xml" > "lab-$side.out" 2>&1) || { echo "lanes: $side player failed:"; cat "$work/lab-$side.out"; failed=1; }
  sleep 0.3
  sim_stop || true
  # Each port's frames in the order they came, the ports in turn.
  sed -nE 's/^[0-9:.]+ TCP [0-9.:]+ on ([0-9]+) +(<.*)$/\1 \2/p' "$work/lab-$side.sim" | sort -s -k1,1 > "$work/lab-$side.txt"
done
if [ ! -s "$work/lab-linux.txt" ] || ! cmp -s "$work/lab-linux.txt" "$work/lab-windows.txt" ||
  [ "$(ls "$work/caps-windows" | wc -l)" -ne 4 ] || [ "$(grep -c '<testsuite ' "$work/lab-windows.xml")" -ne 4 ]; then
  echo "lanes: pos-player.exe's four lanes sent other frames than pos-player's, or left other files:"
  diff "$work/lab-linux.txt" "$work/lab-windows.txt" | head -20 || true
  ls "$work/caps-windows" || true
  failed=1
else
  echo "lanes: four lanes in pos-player.exe, $(wc -l < "$work/lab-windows.txt") frames on four ports, the same as pos-player's; 4 captures, 4 suites"
fi

# Serial: the Linux player through the ports folder, the Windows one through Wine's COM5, which Wine
# sets up from its registry when it starts (a link of our own in dosdevices would be taken away).
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$work/com5" /f > /dev/null 2>&1
wineserver -k 2> /dev/null || true
# The server takes the pseudo-terminal as its terminal, and when the reader closes it the hang-up
# makes the server dump every object it holds (thousands of lines): that goes nowhere.
wineserver -p 2> /dev/null
serial_args=(--serial COM5 --baud 19200 --stop-bits 2 --flow Hardware --passes 1)
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Veltrin Applications/ports"
for file in POS/*.vlq; do
  pos=$(basename "$file" .vlq)
  (cd "$work" && python3 "$OLDPWD/tools/windows/serial_reader.py" "$XDG_CONFIG_HOME/Veltrin Applications/ports/COM5" \
    "$OLDPWD/$LINUX_BUILD/tools/pos-player/pos-player" "$pos" "${serial_args[@]}") > "$work/serial-linux.txt"
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
# Detection: the Windows probe (its own CreateFileW, SetCommTimeouts and ReadFile) finds an OCS that
# answers only at 19200 baud with odd parity.
start=$(date +%s%N)
status=0
(cd "$work" && python3 "$OLDPWD/tools/windows/serial_reader.py" --ack-at 19200,odd "$work/com5" \
  sh -c "wine '$OLDPWD/$player_exe' --detect > detect.out 2> detect.err") > /dev/null || status=$?
found=$(tr -d '\r' < "$work/detect.out")
if [ $status -ne 0 ] || [ "$found" != "OCS found on COM5: --serial COM5 --baud 19200 --parity Odd --data-bits 8 --stop-bits 1 --flow None" ]; then
  echo "detection: pos-player.exe --detect ended with status $status and said: $found"
  grep -v '^Trying' "$work/detect.err" | tail -20 || true
  failed=1
else
  echo "detection: pos-player.exe --detect found the OCS on COM5 at 19200 odd in $(awk "BEGIN { printf \"%.1f\", ($(date +%s%N) - $start) / 1e9 }") s"
fi
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d '' /f > /dev/null 2>&1

# Ctrl+C: the tests cannot send it under Wine, but a key typed into a Wine console window reaches the
# program as on Windows. The pass under way is finished at once and the capture written.
sim_start 127.0.0.95 "$work/ctrl-c.sim"
cp "POS/PC-POS 3.vlq" "$work/ctrl-c.vlq"
player_win=$(winepath -w "$PWD/$player_exe")
(cd "$work" && wineconsole cmd /c "$player_win ctrl-c.vlq --tcp 127.0.0.95 --passes 0 \
  --capture ctrl-c.txt > ctrl-c.out 2>&1" > /dev/null 2>&1 &)
for _ in $(seq 100); do grep -q '<02>I' "$work/ctrl-c.sim" && break; sleep 0.2; done
window=$(xdotool search --onlyvisible --name 'cmd.exe' | head -n 1 || true)
if [ -n "$window" ]; then
  xdotool windowactivate --sync "$window" > /dev/null 2>&1 || true
  xdotool key --window "$window" ctrl+c 2> /dev/null || true # the window may close before the key is up
fi
# The capture is written when the player has ended.
for _ in $(seq 75); do grep -q 'Data received from OCS' "$work/ctrl-c.txt" 2> /dev/null && break; sleep 0.2; done
sim_stop || true # gone already if the player took it down with it
if [ -z "$window" ] || ! grep -q 'Data received from OCS' "$work/ctrl-c.txt" 2> /dev/null ||
  ! grep -q '<02>C<1C>1047<03>' "$work/ctrl-c.sim" || ! grep -q disconnected "$work/ctrl-c.sim"; then
  echo "Ctrl+C: pos-player.exe in a Wine console did not finish its pass and write its capture:"
  cat "$work/ctrl-c.out" 2> /dev/null || true
  tail -5 "$work/ctrl-c.sim"
  failed=1
else
  echo "Ctrl+C: pos-player.exe in a Wine console finished its pass, closed the link and wrote its capture"
fi
# Pacing of the window's engine on Windows, 20 lines at 500 ms and 20 at 10 ms: figures only, since
# Wine sleeps with Linux's timers (a real PC shows what the 1 ms system timer is for).
bench=$PWD/$WIN_BUILD/bench/bench_pacing.exe
if (cd "$work" && WINEQT_QPA_FONTDIR="$(winepath -w /usr/share/fonts/truetype/dejavu)" timeout 120 wine "$bench" 20 20 \
  2> /dev/null | tr -d '\r' | grep -E '^pacing_(500|10)ms_(median|p99|max)_ms' > "$work/pacing.txt"); then
  echo "bench_pacing.exe under Wine: $(tr '\n' ' ' < "$work/pacing.txt")"
else
  echo "bench_pacing.exe under Wine printed no figures"
  failed=1
fi
wineserver -k 2> /dev/null || true
[ $failed -eq 0 ] || { echo "Windows end-to-end checks failed"; exit 1; }
echo "Windows end-to-end checks passed"
