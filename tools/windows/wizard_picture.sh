#!/usr/bin/env bash
# Draws docs/windows-wizard.png: pos-emulator.exe from build-win/ under Wine on Xvfb, through Qt's
# windows platform plugin, on its first run (no settings, no captures left behind), as a Windows
# user sees it. Needs tools/windows/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tools/setup.sh xvfb xauth x11-apps netpbm xdotool >&2
source tools/windows/env.sh
need_display "$@"
wine_prepare
trap 'wineserver -k 2> /dev/null || true' EXIT
wine reg delete 'HKCU\Software\Veltrin Applications' /f > /dev/null 2>&1 || true
rm -rf "$WIN_PROFILE/AppData/Local/Veltrin Applications"
wine "$WIN_BUILD/app/pos-emulator.exe" > /dev/null 2>&1 &
window=""
for _ in $(seq 60); do
  window=$(xdotool search --onlyvisible --name '^POS Emulator' 2> /dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "pos-emulator.exe showed no window" >&2; exit 1; }
sleep 2 # let it finish drawing
eval "$(xdotool getwindowgeometry --shell "$window")"
xwd -root -silent | xwdtopnm 2> /dev/null | pnmcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
  pnmtopng > docs/windows-wizard.png
echo "docs/windows-wizard.png: ${WIDTH}x${HEIGHT}"
