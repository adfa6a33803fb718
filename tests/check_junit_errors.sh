#!/usr/bin/env bash
# A run that fails before or besides judging writes a JUnit report that a JUnit reader counts as an
# error, naming the reason: nothing listening, a POS that cannot be loaded, a serial port that cannot
# be opened. A lab of lanes writes one report with a testsuite a lane, the lanes that failed as
# errors, the others untouched. Read with Python's junitparser, as CI servers' plugins read reports.
#   check_junit_errors.sh PLAYER  (from the repository's root: the samples are in POS/; ocs-sim is
#   found beside the player's folder, as the build puts it)
set -euo pipefail
player=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME=$dir/home XDG_CONFIG_HOME=$dir/home/config POS_EMULATOR_SERIAL_BY_ID=$dir/by-id
# COM9 stands for a device that is not there, whatever this machine has.
mkdir -p "$XDG_CONFIG_HOME/Veltrin Applications/ports"
ln -s "$dir/no-such-device" "$XDG_CONFIG_HOME/Veltrin Applications/ports/COM9"
run() { # REPORT STATUS ARGS...
  local report=$1 want=$2 got=0
  shift 2
  "$player" "$@" --expect "<06>" --junit "$dir/$report" > /dev/null 2>&1 || got=$?
  [ "$got" -eq "$want" ] || { echo "$report: status $got, not $want"; exit 1; }
}
run unreachable.xml 4 "Drive Thru Basic" --tcp 127.0.0.1:47125
run no-pos.xml 3 "No Such POS" --tcp 127.0.0.1:47125
run no-port.xml 4 "Drive Thru Basic" --serial COM9
sim=$(dirname "$player")/../ocs-sim/ocs-sim
"$sim" --port 47126 --reply "<06>" > "$dir/sim.log" &
trap 'kill %1 2> /dev/null; rm -rf "$dir"' EXIT
printf '<02>ONE<03>\n<02>TWO<03>\n' > "$dir/lab.vlq"
cat > "$dir/lab.ini" <<EOF
[Good]
tcp = 127.0.0.1:47126
[Lost]
tcp = 127.0.0.1:47125
[No POS]
pos = No Such POS
tcp = 127.0.0.1:47126
EOF
for _ in $(seq 50); do grep -q listening "$dir/sim.log" && break; sleep 0.1; done
run lab.xml 4 "$dir/lab.vlq" --lanes "$dir/lab.ini"
/usr/bin/python3 - "$dir" <<'PY'
import sys
from junitparser import JUnitXml, Error
expected = {
    "unreachable.xml": "could not connect to 127.0.0.1:47125",
    "no-pos.xml": "POS not loaded: Error: Unable to find POS data",
    "no-port.xml": "could not open COM9",
}
for name, reason in expected.items():
    xml = JUnitXml.fromfile(sys.argv[1] + "/" + name)
    suites = list(xml) if isinstance(xml, JUnitXml) else [xml]
    errors = [r for suite in suites for case in suite for r in case.result if isinstance(r, Error)]
    counted = sum(suite.errors for suite in suites)
    if counted != 1 or len(errors) != 1 or not errors[0].message.startswith(reason):
        sys.exit(f"{name}: {counted} errors counted, {[e.message for e in errors]}")
    print(f"{name}: read as an error: {errors[0].message}")
lab = {suite.name: suite for suite in JUnitXml.fromfile(sys.argv[1] + "/lab.xml")}
good = lab.get("Good")
if list(lab) != ["Good", "Lost", "No POS"] or good.tests != 2 or good.failures or good.errors:
    sys.exit(f"lab.xml: suites {[(s.name, s.tests, s.failures, s.errors) for s in lab.values()]}")
for name, reason in {"Lost": "could not connect to 127.0.0.1:47125", "No POS": "POS not loaded"}.items():
    errors = [r.message for case in lab[name] for r in case.result if isinstance(r, Error)]
    if lab[name].errors != 1 or len(errors) != 1 or not errors[0].startswith(reason):
        sys.exit(f"lab.xml: {name}: {errors}")
links = {p.name: p.value for p in good.properties()}
if links.get("link") != "tcp 127.0.0.1:47126":
    sys.exit(f"lab.xml: Good's properties {links}")
print("lab.xml: a suite a lane; Good passed, Lost and No POS read as errors")
PY
