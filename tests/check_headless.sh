#!/usr/bin/env bash
# The command-line tools run where no GUI library is installed: none of them may need one.
#   check_headless.sh PROGRAM [PROGRAM ...]
set -euo pipefail
status=0
for program in "$@"; do
  needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  gui=$(echo "$needed" | grep -E '^libQt6(Widgets|Gui|Svg|DBus|OpenGL)|^libX|^libGL|^libxcb' || true)
  if [ -n "$gui" ]; then
    echo "$(basename "$program") needs GUI libraries:" $gui
    status=1
  else
    echo "$(basename "$program") needs:" $needed
  fi
done
exit $status
