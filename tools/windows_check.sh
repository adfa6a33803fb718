#!/usr/bin/env bash
# Windows compile check: every source file of the program, its core library, pos-player and ocs-sim
# goes through the MinGW-w64 cross compiler in syntax-only mode against Qt's headers, so that the
# _WIN32 branches are compiled and a POSIX-only header or call in program code fails. It links
# nothing and runs nothing: it does not prove that the program builds or works on Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh g++-mingw-w64-x86-64-posix
cxx=x86_64-w64-mingw32-g++-posix
qt=$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || echo "/usr/include/$(gcc -dumpmachine)/qt6")
flags=(-std=c++17 -fsyntax-only -Wall -Wextra -Werror -I. -Itools/pos-player -Itools/ocs-sim
       -DPOSEMU_SHARE_FROM_BIN=\"../share/pos-emulator\" -DPOSEMU_VERSION=\"0\")
for module in "" QtCore QtGui QtWidgets QtSerialPort QtSvg; do
  flags+=(-isystem "$qt/$module")
done
mapfile -t sources < <(ls app/*.cpp script/*.cpp transport/*.cpp capture/*.cpp ui/*.cpp res/*.cpp \
  tools/pos-player/*.cpp tools/ocs-sim/*.cpp)
failed=0
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} sh -c '"$0" "$@" {} || { echo "FAILED: {}"; exit 255; }' \
  "$cxx" "${flags[@]}" || failed=1
if [ $failed -ne 0 ]; then
  echo "Windows compile check failed"
  exit 1
fi
echo "Windows compile check: ${#sources[@]} files compile with $cxx (syntax only)"
