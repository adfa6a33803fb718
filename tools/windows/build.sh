#!/usr/bin/env bash
# Cross-builds the Windows programs and tests into build-win/ with Debian's MinGW-w64 against the
# Qt for Windows in ../shared/third_party/qt-windows (unpacked once into a cache outside the tree).
# Prints the Qt prefix on its last line, for the scripts that run or package the result.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/setup.sh g++-mingw-w64-x86-64-posix ninja-build wine64 zstd pkg-config python3 >&2
source tools/windows/env.sh
qt_unpack >&2
# The program's icon for its Windows resource, drawn from the SVG by the build machine's Qt.
mkdir -p "$WIN_BUILD"
icon=$PWD/$WIN_BUILD/pos-emulator.ico
if [ ! -f "$icon" ] || [ res/icons/128_program.svg -nt "$icon" ] || [ tools/icon/draw_icon.cpp -nt "$icon" ]; then
  # shellcheck disable=SC2046
  g++ -std=c++17 -O1 -fPIC -o "$WIN_BUILD/draw_icon" tools/icon/draw_icon.cpp \
    $(pkg-config --cflags --libs Qt6Gui Qt6Svg) >&2
  "$WIN_BUILD/draw_icon" res/icons/128_program.svg --ico "$icon" >&2
fi
cmake -S . -B "$WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPOSEMU_WINDOWS_ICON="$icon" \
  -DCMAKE_TOOLCHAIN_FILE="$QT_WIN/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/tools/windows/mingw-posix.cmake" -DQT_HOST_PATH=/usr \
  -DPOSEMU_BUILD_BENCH=ON >&2
cmake --build "$WIN_BUILD" -j2 >&2
echo "$QT_WIN"
