#!/usr/bin/env python3
"""What each test function reaches that no other one does.

Builds the project with gcov counters in BUILD (default build-cov), runs every test function of every
test program alone (each one's counters kept apart with GCOV_PREFIX, the tools it starts included),
and prints, largest first, each function's size in lines of test code and how many product lines
only it reaches. Last comes a set of functions that could go without any product line going
unreached (taken largest first). Reaching a line is not checking it: a function in that set may
still hold the only check of what those lines produce, so read it before removing anything.

    python3 tools/coverage_by_test.py [BUILD]
"""
import collections
import glob
import json
import os
import re
import shutil
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "build-cov"))
RUNS = os.path.join(BUILD, "coverage-runs")
FIXTURES = {"initTestCase", "cleanupTestCase", "init", "cleanup"}


def build():
    flags = "--coverage -O0"
    subprocess.run(["cmake", "-S", SOURCE, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Debug", "-DPOSEMU_BUILD_BENCH=OFF",
                    "-DCMAKE_CXX_FLAGS=" + flags, "-DCMAKE_C_FLAGS=" + flags,
                    "-DCMAKE_EXE_LINKER_FLAGS=--coverage"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "-j2"], check=True, stdout=subprocess.DEVNULL)


def run_all():
    tests = os.path.join(BUILD, "tests")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", GCOV_PREFIX_STRIP="0")
    runs = []
    for exe in sorted(glob.glob(os.path.join(tests, "test_*"))):
        if not (os.path.isfile(exe) and os.access(exe, os.X_OK)):
            continue
        name = os.path.basename(exe)
        listed = subprocess.run([exe, "-functions"], cwd=tests, env=env, capture_output=True, text=True).stdout
        for function in re.findall(r"^(\w+)\(\)$", listed, re.M):
            if function in FIXTURES:
                continue
            run = os.path.join(RUNS, name + "__" + function)
            shutil.rmtree(run, ignore_errors=True)
            os.makedirs(run)
            env["GCOV_PREFIX"] = run
            env["POSEMU_TEST_HOME"] = os.path.join(tests, "home", name)
            status = subprocess.run([exe, function], cwd=tests, env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, timeout=600).returncode
            if status != 0:
                print("failed here, counted anyway: %s %s" % (name, function), file=sys.stderr)
            runs.append(run)
    return runs


def product_line(path):
    path = os.path.normpath(path)
    inside = os.path.relpath(path, SOURCE)
    if inside.startswith("..") or inside.startswith("tests" + os.sep) or path.startswith(BUILD):
        return None
    return inside


def lines_reached(run):
    reached = set()
    for gcda in glob.glob(run + "/**/*.gcda", recursive=True):
        gcno = gcda[len(run):-len(".gcda")] + ".gcno"
        if not os.path.exists(gcno):
            continue
        shutil.copy(gcno, gcda[:-len(".gcda")] + ".gcno")
        out = subprocess.run(["gcov", "--json-format", "--stdout", gcda], cwd=os.path.dirname(gcda),
                             capture_output=True, text=True, errors="replace").stdout
        for chunk in filter(str.strip, out.splitlines()):
            data = json.loads(chunk)
            for source in data.get("files", []):
                path = os.path.join(data.get("current_working_directory", ""), source["file"])
                inside = product_line(path)
                if inside:
                    reached.update("%s:%d" % (inside, l["line_number"]) for l in source["lines"] if l["count"])
    return reached


def test_sizes():
    sizes = collections.Counter()
    for path in glob.glob(os.path.join(SOURCE, "tests", "test_*.cpp")):
        program = os.path.basename(path)[:-4]
        lines = open(path, encoding="utf-8").read().split("\n")
        for i, line in enumerate(lines):
            found = re.match(r"^    void (\w+)\(\) \{$", line)
            if not found:
                continue
            start = i
            while start > 0 and lines[start - 1].strip().startswith("//"):
                start -= 1
            end = i
            while not lines[end].startswith("    }"):
                end += 1
            sizes[(program, re.sub(r"_data$", "", found.group(1)))] += end - start + 1
    return sizes


def main():
    build()
    runs = run_all()
    with ThreadPoolExecutor(2) as pool:
        reached = dict(zip(((os.path.basename(r).split("__")[0], os.path.basename(r).split("__")[1])
                            for r in runs), pool.map(lines_reached, runs)))
    sizes = test_sizes()
    count = collections.Counter()
    for lines in reached.values():
        count.update(lines)
    print("product lines reached: %d, by %d test functions" % (len(count), len(reached)))
    order = sorted(reached, key=lambda t: (-sizes[t], t))
    for test in order:
        alone = sum(1 for l in reached[test] if count[l] == 1)
        print("%5d test lines %5d reached by it alone  %s.%s" % (sizes[test], alone, *test))
    spare, total = [], 0
    for test in order:
        if all(count[l] > 1 for l in reached[test]):
            count.subtract(reached[test])
            spare.append(test)
            total += sizes[test]
    print("reachable without these (%d test lines):" % total)
    for test in spare:
        print("%5d  %s.%s" % (sizes[test], *test))


if __name__ == "__main__":
    main()
