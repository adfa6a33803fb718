#!/usr/bin/env bash
# Installs the two built Debian packages with apt-get (dependencies pulled in), checks that the tools
# need no GUI library and that every program runs, and purges both again, leaving nothing behind.
#   check_package.sh FOLDER   (the folder tools/package.sh filled)
set -euo pipefail
folder=$(realpath "$1")
tools=$(ls "$folder"/pos-emulator-tools_*.deb)
window=$(ls "$folder"/pos-emulator_*_*.deb | grep -v dbgsym)
export DEBIAN_FRONTEND=noninteractive
apt-get install -y "$tools" "$window" > /dev/null
trap 'apt-get purge -y pos-emulator pos-emulator-tools > /dev/null' EXIT
for program in pos-emulator pos-player ocs-sim; do
  test "$(command -v $program)" = "/usr/bin/$program" || { echo "not installed: $program"; exit 1; }
done
for program in pos-player ocs-sim; do
  if ldd "/usr/bin/$program" | grep -E 'libQt6(Widgets|Gui|Svg|DBus)'; then
    echo "$program needs a GUI library"
    exit 1
  fi
done
test "$(dpkg -S /usr/bin/pos-player | cut -d: -f1)" = pos-emulator-tools
test "$(dpkg -S /usr/share/pos-emulator/POS | cut -d: -f1)" = pos-emulator-tools
pos-player --help | grep -- "--expect" > /dev/null
ocs-sim --help | grep -- "--record" > /dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM pos-emulator --help | grep "^Usage: pos-emulator" > /dev/null
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM pos-emulator --version | grep "^POS Emulator " > /dev/null
for page in pos-emulator pos-player ocs-sim; do
  test -f "/usr/share/man/man1/$page.1.gz" || { echo "no manual page: $page"; exit 1; }
done
for doc in README.md.gz changelog.gz; do
  test -f "/usr/share/doc/pos-emulator-tools/$doc" || { echo "not in /usr/share/doc/pos-emulator-tools: $doc"; exit 1; }
done
# The package's autopkgtest, against what is installed.
sh "$(dirname "$0")/../debian/tests/play-sample"

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
apt-get purge -y pos-emulator pos-emulator-tools > /dev/null
for f in /usr/bin/pos-emulator /usr/bin/pos-player /usr/bin/ocs-sim /usr/share/pos-emulator \
    /usr/share/man/man1/pos-player.1.gz /usr/share/doc/pos-emulator /usr/share/doc/pos-emulator-tools \
    /usr/share/applications/com.veltrin.PosEmulator.desktop; do
  if [ -e "$f" ]; then echo "left behind after purging: $f"; exit 1; fi
done
echo "both packages installed, their programs ran, and they are purged again without a trace"
