# Shared by the Windows scripts (sourced): where the Qt for Windows, the build and the Wine prefix live.
# The Qt for Windows lies in ../shared beside the project; a clone made elsewhere (as CI's) finds it
# beside the repository it was cloned from.
find_qt_archive() {
  local root base rel=shared/third_party/qt-windows/qt6-win-6.4.2-mingw.tar.zst
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  for base in "$root/.." "$(git -C "$root" remote get-url origin 2> /dev/null)/.."; do
    if [ -f "$base/$rel" ]; then
      echo "$base/$rel"
      return
    fi
  done
  echo "$root/../$rel"
}
QT_WIN_ARCHIVE=${QT_WIN_ARCHIVE:-$(find_qt_archive)}
WIN_CACHE=${POSEMU_WIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pos-emulator-windows}
QT_WIN=$WIN_CACHE/qt6-win
WIN_BUILD=${WIN_BUILD:-build-win}
export WINEPREFIX=${WINEPREFIX:-$WIN_CACHE/wine}
export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
WIN_PROFILE=$WINEPREFIX/drive_c/users/$(id -un) # Wine names the profile after the Unix user
# The Linux build the Windows programs are compared with, and whose ocs-sim they play to.
LINUX_BUILD=${LINUX_BUILD:-build}
XVFB_ARGS=(-a -s "-screen 0 1280x1024x24")
# Where the DLLs the programs load are found: Qt's, and the compiler's runtime.
WIN_DLL_DIRS=("$QT_WIN/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)

# Unpacks the Qt prefix once; a stamp names the archive it came from, so a new archive replaces it.
qt_unpack() {
  local stamp=$WIN_CACHE/qt6-win.stamp
  local want
  want=$(stat -c '%s %Y' "$QT_WIN_ARCHIVE")
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && [ -d "$QT_WIN" ]; then
    return
  fi
  rm -rf "$QT_WIN" "$stamp"
  mkdir -p "$WIN_CACHE"
  tar --zstd -xf "$QT_WIN_ARCHIVE" -C "$WIN_CACHE"
  echo "$want" > "$stamp"
}

# Runs a Wine command quietly; when it fails, says why and tries once more after the server is gone
# (a server still shutting down from an earlier run can refuse the first client).
wine_quiet() {
  local out
  out=$("$@" 2>&1) && return 0
  echo "$* failed, trying again once:" >&2
  grep -v ':fixme:' <<< "$out" | tail -n 10 >&2
  wineserver -k 2> /dev/null || true
  wineserver -w 2> /dev/null || true
  "$@" > /dev/null 2>&1
}

# Makes the Wine prefix once, hides every COM port of the machine from it (no test may reach a real
# device), and puts the Qt and MinGW DLLs on its search path.
wine_prepare() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wine_quiet wineboot -i
  fi
  # Every COM name empty: the machine's serial ports stay out of the tests' way.
  local ports n
  ports=$(mktemp --suffix=.reg)
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 256); do printf '"COM%d"=""\r\n' "$n"; done
  } > "$ports"
  wine_quiet wine reg import "Z:${ports//\//\\}" # Wine's Z: is the root
  rm -f "$ports"
  # Names Wine listed for the host's devices at earlier starts, which programs would still be told of.
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /f > /dev/null 2>&1 || true
  rm -f "$WINEPREFIX"/dosdevices/com*
  local path="" d
  for d in "${WIN_DLL_DIRS[@]}"; do
    path+="$(winepath -w "$d");"
  done
  export WINEPATH="$path"
  # Wine hands QT_* variables to Windows programs only when they are given as WINEQT_*.
  export WINEQT_PLUGIN_PATH
  WINEQT_PLUGIN_PATH=$(winepath -w "$QT_WIN/plugins")
  true
}

# Runs the calling script again on a virtual display when it has none (pass it the script's arguments).
need_display() {
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run "${XVFB_ARGS[@]}" bash "$0" "$@"
  fi
}

# Starts the Linux ocs-sim on ADDRESS, acknowledging every frame, its output to LOG, and waits until it
# listens. Sets sim_pid.
sim_start() {
  "$LINUX_BUILD/tools/ocs-sim/ocs-sim" --listen "$1" --reply '<06>' > "$2" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do grep -q listening "$2" && break; sleep 0.1; done
}
# Stops it; fails when it had ended already.
sim_stop() {
  local gone=0
  kill -INT "$sim_pid" 2> /dev/null || gone=1
  wait "$sim_pid" 2> /dev/null || true
  sim_pid=""
  return $gone
}
