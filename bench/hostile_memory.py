#!/usr/bin/python3
"""Peak memory and wall time of each hostile-server case: every test of
HostileServerTest (tests/app/hostile_server_test.cpp) runs in a process of
its own, and its peak resident set (wait4's ru_maxrss) is printed beside
that of the same program running no test at all, as a Markdown table. The
cases that move gigabytes (DISABLED_ in the suite, which they would slow
down) run here too.

usage: bench/hostile_memory.py [--tests PATH]   (default build/bin/tests_app)
"""
import argparse
import os
import subprocess
import sys
import time


def run_case(program, pattern):
    start = time.monotonic()
    child = subprocess.Popen([program, "--gtest_also_run_disabled_tests",
                              "--gtest_filter=" + pattern],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = child.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    passed = child.returncode == 0 and "[  PASSED  ]" in output
    return usage.ru_maxrss / 1024.0, wall, passed  # KiB to MiB


def main():
    parser = argparse.ArgumentParser()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--tests", default=os.path.join(root, "build", "bin", "tests_app"))
    options = parser.parse_args()
    listing = subprocess.run([options.tests, "--gtest_list_tests",
                              "--gtest_also_run_disabled_tests",
                              "--gtest_filter=HostileServerTest.*"],
                             capture_output=True, text=True, check=True).stdout
    cases = [line.strip() for line in listing.splitlines() if line.startswith("  ")]
    base_rss, _, _ = run_case(options.tests, "NoSuchTest.None")
    print("| case | passed | wall s | peak RSS MB | above the idle program MB |")
    print("|---|---|---:|---:|---:|")
    print(f"| (no test: the program alone) | - | - | {base_rss:.2f} | 0.00 |")
    failed = 0
    for case in cases:
        rss, wall, passed = run_case(options.tests, "HostileServerTest." + case)
        failed += not passed
        print(f"| {case} | {'yes' if passed else 'NO'} | {wall:.2f} | {rss:.2f} |"
              f" {rss - base_rss:.2f} |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
