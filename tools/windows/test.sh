#!/usr/bin/env bash
# Runs every Windows test program of build-win/ under Wine, one at a time (they share the user's
# registry key), offscreen, with the DejaVu fonts. Fails when any test fails; prints each program's
# Qt Test report when it fails, and the skipped cases always.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tools/windows/env.sh
wine_prepare
results=$WIN_BUILD/wine-results
rm -rf "$results"
mkdir -p "$results"
failed=()
for exe in "$WIN_BUILD"/tests/test_*.exe; do
  name=$(basename "$exe" .exe)
  start=$(date +%s)
  status=0
  # Qt Test under Wine writes its report only to a file.
  POSEMU_TEST_HOME=1 POSEMU_TEST_TIME_FACTOR=4 WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR="$(winepath -w /usr/share/fonts/truetype/dejavu)" \
    QTEST_FUNCTION_TIMEOUT=120000 timeout 900 wine "$exe" -o "$(winepath -w "$results/$name.txt")",txt > "$results/$name.out" 2>&1 || status=$?
  totals=$(grep -E '^Totals:' "$results/$name.txt" 2>/dev/null || echo "no report")
  echo "$name: $totals ($(( $(date +%s) - start )) s, status $status)"
  grep -E '^SKIP' "$results/$name.txt" | sed -E 's/^SKIP +: /    skipped: /' || true
  if [ $status -ne 0 ] || ! grep -qE '^Totals: [0-9]+ passed, 0 failed' "$results/$name.txt"; then
    failed+=("$name")
    grep -E '^(FAIL|QWARN|QFATAL)' -A3 "$results/$name.txt" | head -60 || true
    tail -n 20 "$results/$name.out"
  fi
done
wineserver -k 2> /dev/null || true # a program a failed test left running
if [ ${#failed[@]} -gt 0 ]; then
  echo "Windows tests failed: ${failed[*]}"
  exit 1
fi
echo "Windows tests passed"
