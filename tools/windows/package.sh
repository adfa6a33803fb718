#!/usr/bin/env bash
# Makes the Windows downloads in build-win/: pos-emulator-<version>-win64.zip (the three programs, the
# Qt and MinGW DLLs they load, the Qt plugins they use, the sample POS folder, the README as text),
# pos-emulator-<version>-setup.exe (NSIS), both with the programs' and DLLs' debug information taken
# out, and pos-emulator-<version>-win64-debug.zip with that information, one .debug file each, for
# reading a crash. Prints the three paths.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/setup.sh nsis binutils-mingw-w64-x86-64 >&2
bash tools/windows/build.sh > /dev/null
source tools/windows/env.sh
version=$(sed -nE 's/^project\(pos_emulator VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
name=pos-emulator-$version-win64
out=$PWD/$WIN_BUILD
stage=$out/stage
rm -rf "$stage"
cmake --install "$WIN_BUILD" --prefix "$stage/install" > /dev/null
root=$stage/$name
mkdir -p "$root"
cp "$stage/install/bin/"{pos-emulator,pos-player,ocs-sim}.exe "$root/"
cp -r "$stage/install/bin/POS" "$root/POS"
for plugin in platforms/qwindows styles/qwindowsvistastyle imageformats/qsvg imageformats/qico iconengines/qsvgicon; do
  mkdir -p "$root/$(dirname "$plugin")"
  cp "$QT_WIN/plugins/$plugin.dll" "$root/$plugin.dll"
done
# The DLLs the programs and plugins load, found in Qt's and the compiler's folders (the rest are
# Windows' own), followed to the DLLs those load.
pending=("$root"/*.exe "$root"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file=${pending[0]}
  pending=("${pending[@]:1}")
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p'); do
    [ -f "$root/$dll" ] && continue
    for dir in "${WIN_DLL_DIRS[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$root/$dll"
        pending+=("$root/$dll")
        break
      fi
    done
  done
done
# Debug information goes into files of its own (linked back by name), not into what is shipped.
debug=$stage/$name-debug
mkdir -p "$debug"
(cd "$root" && find . -type f \( -name '*.exe' -o -name '*.dll' \) | sort) | while read -r f; do
  f=${f#./}
  if x86_64-w64-mingw32-objdump -h "$root/$f" | grep '\.debug_info' > /dev/null; then
    mkdir -p "$debug/$(dirname "$f")"
    x86_64-w64-mingw32-objcopy --only-keep-debug "$root/$f" "$debug/$f.debug"
    x86_64-w64-mingw32-objcopy --strip-debug --add-gnu-debuglink="$debug/$f.debug" "$root/$f"
  fi
done
sed 's/$/\r/' README.md > "$root/README.txt"
zip_folder() { # FOLDER (in the stage) ZIP
  rm -f "$2"
  (cd "$stage" && python3 - "$1" "$2" <<'PY'
import os, sys, zipfile
name, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for folder, dirs, files in os.walk(name):
        dirs.sort()
        for f in sorted(files):
            z.write(os.path.join(folder, f))
PY
  )
}
zip_folder "$name" "$out/$name.zip"
zip_folder "$name-debug" "$out/$name-debug.zip"
# The installer: every file of the zip, removed again by the uninstaller, folders deepest first.
nsh=$stage/files.nsh
unnsh=$stage/unfiles.nsh
: > "$nsh"
: > "$unnsh"
(cd "$root" && find . -type d | sort) | while read -r dir; do
  rel=${dir#./}
  win=${rel//\//\\}
  echo "SetOutPath \"\$INSTDIR${rel:+\\$win}\"" >> "$nsh"
  (cd "$root/$dir" && find . -maxdepth 1 -type f | sort) | while read -r f; do
    f=${f#./}
    echo "File \"$root/${rel:+$rel/}$f\"" >> "$nsh"
    echo "Delete \"\$INSTDIR${rel:+\\$win}\\$f\"" >> "$unnsh"
  done
done
(cd "$root" && find . -mindepth 1 -type d | sort -r) | while read -r dir; do
  rel=${dir#./}
  echo "RMDir \"\$INSTDIR\\${rel//\//\\}\"" >> "$unnsh"
done
makensis -V2 -DVERSION="$version" -DOUTFILE="$out/pos-emulator-$version-setup.exe" -DFILES_NSH="$nsh" \
  -DUNFILES_NSH="$unnsh" -DICON="$out/pos-emulator.ico" tools/windows/installer.nsi >&2
echo "$out/$name.zip"
echo "$out/pos-emulator-$version-setup.exe"
echo "$out/$name-debug.zip"
