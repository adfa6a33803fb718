#!/usr/bin/env bash
# Installs a built Debian package with apt-get (dependencies pulled in), checks that its three
# programs run, and removes it again.   check_package.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
export DEBIAN_FRONTEND=noninteractive
apt-get install -y "$deb" > /dev/null
trap 'apt-get remove -y --purge pos-emulator > /dev/null' EXIT
for program in pos-emulator pos-player ocs-sim; do
  test "$(command -v $program)" = "/usr/bin/$program" || { echo "not installed: $program"; exit 1; }
done
pos-player --help | grep -q -- "--expect"
ocs-sim --help | grep -q -- "--record"
for page in pos-emulator pos-player ocs-sim; do
  test -f "/usr/share/man/man1/$page.1.gz" || { echo "no manual page: $page"; exit 1; }
done

# The window, offscreen, in a home of its own: up to its main window (which locks its capture
# journals), then ended; started where there is no POS folder, it seeds ~/POS Emulator/POS.
wait_for() { # seconds, test command...
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
home=$(mktemp -d)
mkdir -p "$home/.config/Veltrin Applications"
printf '[General]\nShow%%20Wizard%%20on%%20Startup=0\n' > "$home/.config/Veltrin Applications/pos-emulator.conf"
(cd "$home" && exec env HOME="$home" XDG_CONFIG_HOME= XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen pos-emulator) \
  > "$home/out.log" 2>&1 &
window=$!
locked() { compgen -G "$home/.local/share/Veltrin Applications/pos-emulator/captures/*.lock" > /dev/null; }
if ! wait_for 20 locked; then
  echo "the installed pos-emulator did not reach its main window"
  cat "$home/out.log"
  exit 1
fi
kill "$window"
wait "$window" || true
test -f "$home/POS Emulator/POS/PC-POS 3.vlq" || { echo "the samples were not seeded"; exit 1; }

# With a new profile it opens the setup wizard and waits there.
home2=$(mktemp -d)
(cd "$home2" && exec env HOME="$home2" XDG_CONFIG_HOME= XDG_DATA_HOME= QT_QPA_PLATFORM=offscreen pos-emulator) \
  > "$home2/out.log" 2>&1 &
wizard=$!
sleep 3
if ! kill -0 "$wizard" 2> /dev/null; then
  echo "the installed pos-emulator ended instead of showing its wizard"
  cat "$home2/out.log"
  exit 1
fi
kill "$wizard"
wait "$wizard" || true
rm -rf "$home" "$home2"

trap - EXIT
apt-get remove -y --purge pos-emulator > /dev/null
for f in /usr/bin/pos-emulator /usr/bin/pos-player /usr/bin/ocs-sim /usr/share/pos-emulator \
    /usr/share/man/man1/pos-player.1.gz /usr/share/doc/pos-emulator; do
  if [ -e "$f" ]; then echo "left behind after removal: $f"; exit 1; fi
done
echo "package installed, its programs ran, and it is removed again without a trace"
