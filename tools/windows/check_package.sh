#!/usr/bin/env bash
# Makes the zip and the installer, then checks both under Wine as a technician would use them:
# the zip unpacked in a folder of its own starts its programs with nothing else on the DLL path;
# the installer installs, runs and uninstalls silently (Linux ocs-sim from LINUX_BUILD, default
# build/). Prints the sizes.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/setup.sh xvfb xauth unzip >&2
mapfile -t made < <(bash tools/windows/package.sh)
zip=${made[0]}
setup=${made[1]}
debug_zip=${made[2]}
source tools/windows/env.sh
wine_prepare
unset WINEPATH WINEQT_PLUGIN_PATH # only what the download holds
work=$(mktemp -d)
drive_c=$WINEPREFIX/drive_c
# The window is stopped by force here, so it leaves its captures behind: they go with the rest.
journals="$WIN_PROFILE/AppData/Local/Veltrin Applications/pos-emulator/captures"
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2> /dev/null; wineserver -k 2> /dev/null || true; rm -rf "$work" "$journals"' EXIT

# Starts the window program and checks that it is still up after a few seconds (it shows its wizard).
starts() {
  local exe=$1
  xvfb-run "${XVFB_ARGS[@]}" wine "$exe" > "$work/window.log" 2>&1 &
  local pid=$!
  sleep 12
  if ! kill -0 "$pid" 2> /dev/null; then
    echo "$exe did not stay up:"
    cat "$work/window.log"
    return 1
  fi
  wineserver -k 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
  rm -rf "$journals"
}

unzip -q "$zip" -d "$work/unpacked"
folder=$(echo "$work"/unpacked/*)
wine "$folder/pos-player.exe" --help | grep -- "--passes N" > /dev/null
wine "$folder/ocs-sim.exe" --help | grep -- "--listen HOST" > /dev/null
# Shipped without debug information; that comes in a zip of its own.
for exe in "$folder"/*.exe; do
  if x86_64-w64-mingw32-objdump -h "$exe" | grep '\.debug_info' > /dev/null; then
    echo "$(basename "$exe") ships with its debug information"
    exit 1
  fi
done
unzip -l "$debug_zip" | grep "pos-player.exe.debug" > /dev/null || { echo "no pos-player.exe.debug in $debug_zip"; exit 1; }
starts "$folder/pos-emulator.exe"
echo "zip: unpacked in another folder, the three programs start ($(du -k "$zip" | cut -f1) KiB)"

# The installer, silently, per user and for all users: it puts exactly the zip's files in place with
# a Start menu entry, the installed programs run from there, and its uninstaller takes away what was
# installed while the user's settings and captures stay.
settings_key='HKCU\Software\Veltrin Applications\pos-emulator'
files_in() { (cd "$1" && find . -type f | sort); }
files_in "$folder" > "$work/zip-files.txt"
plays_from() {
  local exe=$1 sim_log=$work/sim.log
  sim_start 127.0.0.96 "$sim_log"
  # From a folder without POS, so that the sample comes from beside the installed program.
  local rc=0
  (cd "$work" && wine "$exe" "Drive Thru Basic" --tcp 127.0.0.96 --passes 1 > "$work/player.log" 2>&1) || rc=$?
  sim_stop || true # the log below tells whether it heard the sample
  if [ "$rc" != 0 ] || ! grep -q 'WELCOME TO THE DRIVE THRU<0D><0A>' "$sim_log"; then
    echo "$exe did not play the installed sample:"
    cat "$work/player.log"
    return 1
  fi
}
for mode in CurrentUser AllUsers; do
  if [ "$mode" = AllUsers ]; then
    installed="$drive_c/Program Files/POS Emulator"
    menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/POS Emulator"
  else
    installed="$WIN_PROFILE/AppData/Local/Programs/POS Emulator"
    menu="$WIN_PROFILE/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/POS Emulator"
  fi
  wine "$setup" /S "/$mode"
  wineserver -w
  files_in "$installed" | grep -vx './Uninstall.exe' > "$work/installed-files.txt" || true
  if ! cmp -s "$work/zip-files.txt" "$work/installed-files.txt"; then
    echo "installer, $mode: the installed files differ from the zip's:"
    diff "$work/zip-files.txt" "$work/installed-files.txt" | head -20 || true
    exit 1
  fi
  [ -f "$menu/POS Emulator.lnk" ] || { echo "installer, $mode: no Start menu entry in $menu"; exit 1; }
  hive=HKCU
  [ "$mode" = AllUsers ] && hive=HKLM
  size=$(wine reg query "$hive\Software\Microsoft\Windows\CurrentVersion\Uninstall\PosEmulator" /v EstimatedSize 2> /dev/null |
    tr -d '\r' | sed -nE 's/.*REG_DWORD +0x([0-9a-fA-F]+).*/\1/p')
  [ -n "$size" ] && [ $((16#$size)) -gt 1000 ] || { echo "installer, $mode: no EstimatedSize in the uninstall entry"; exit 1; }
  plays_from "$installed/pos-player.exe"
  starts "$installed/pos-emulator.exe"
  # What the user made stays: a setting and a capture.
  mkdir -p "$journals/kept"
  echo kept > "$journals/kept/tx.journal"
  wine reg add "$settings_key" /v KeptByUninstall /t REG_SZ /d yes /f > /dev/null 2>&1
  # The uninstaller copies itself away and runs from there, so wait for Wine to go quiet.
  wine "$installed/Uninstall.exe" /S "/$mode"
  wineserver -w
  if [ -e "$installed" ] || [ -e "$menu" ]; then
    echo "installer, $mode: the uninstaller left:"
    find "$installed" "$menu" 2> /dev/null | head -20
    exit 1
  fi
  if [ ! -f "$journals/kept/tx.journal" ] ||
    ! wine reg query "$settings_key" /v KeptByUninstall > /dev/null 2>&1; then
    echo "installer, $mode: the uninstaller took the user's settings or captures"
    exit 1
  fi
  echo "installer, $mode: $(wc -l < "$work/installed-files.txt") files and a Start menu entry;" \
    "pos-player.exe played the installed sample, pos-emulator.exe started; the uninstaller left" \
    "nothing of them, the user's settings and captures stay"
done
wine reg delete "$settings_key" /v KeptByUninstall /f > /dev/null 2>&1 || true
echo "installer: $(du -k "$setup" | cut -f1) KiB; debug information: $(du -k "$debug_zip" | cut -f1) KiB"
