#!/usr/bin/env bash
# Whether the tests but one catch a fault: puts NEW in place of OLD (found once) in FILE, builds
# build/, runs every test program but PROGRAM, then PROGRAM with every function but FUNCTION, then
# FUNCTION alone, and puts FILE back. Run from the repository's root after tools/test.sh.
#   tools/try_fault.sh script/order_session.cpp 'sent.nPass = m_nPassesDone + 1;' 'sent.nPass = 1;' \
#       test_order_session passLimit
set -uo pipefail
if [ $# -ne 5 ]; then
  echo "usage: tools/try_fault.sh FILE OLD NEW PROGRAM FUNCTION" >&2
  exit 2
fi
file=$1 old=$2 new=$3 program=$4 function=$5
cd "$(dirname "$0")/.." || exit 2
root=$PWD
git diff --quiet -- "$file" || { echo "$file has changes of its own: commit or stash them first" >&2; exit 2; }
python3 - "$file" "$old" "$new" <<'EOF' || exit 2
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit("%s: the text to change is there %d times, not once" % (path, text.count(old)))
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
trap 'git -C "$root" checkout -q -- "$file"' EXIT
cmake --build build -j2 > build/try_fault.log 2>&1 || { echo "does not build: see build/try_fault.log"; exit 1; }
echo "== the other test programs =="
ctest --test-dir build -j2 -E "^$program\$" 2>&1 | grep -E "tests passed|\(Failed\)"
cd build/tests || exit 2
export QT_QPA_PLATFORM=offscreen POSEMU_TEST_HOME=$PWD/home/$program
others=$(./"$program" -functions 2>/dev/null | sed -n 's/^\([A-Za-z0-9_]*\)()$/\1/p' | grep -vx "$function")
echo "== $program but $function =="
# shellcheck disable=SC2086 # one argument a function
./"$program" $others 2>&1 | grep -E "^FAIL|^Totals"
echo "== $function alone =="
./"$program" "$function" 2>&1 | grep -E "^FAIL|^Totals"
