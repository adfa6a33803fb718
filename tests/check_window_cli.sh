#!/usr/bin/env bash
# pos-emulator answers --help and --version without a display, and refuses an unknown option.
#   check_window_cli.sh PROGRAM VERSION
set -uo pipefail
program=$1 version=$2
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
status=0
check() { # expected-status expected-output-pattern args...
  local want=$1 pattern=$2
  shift 2
  out=$("$program" "$@" 2>&1)
  got=$?
  if [ "$got" != "$want" ] || ! grep -qE -- "$pattern" <<< "$out"; then
    echo "pos-emulator $*: status $got (want $want), said: $out"
    status=1
  fi
}
check 0 "^Usage: pos-emulator" --help
check 0 "^Usage: pos-emulator" -h
check 0 "^POS Emulator $version\$" --version
check 2 "unknown option --bogus" --bogus
check 2 "unknown option extra" extra
exit $status
