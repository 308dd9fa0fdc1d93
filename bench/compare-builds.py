#!/usr/bin/env python3
"""User CPU time of the same zuba-cli command run by several builds in turn.

Usage: bench/compare-builds.py ZUBA_CLI[,ZUBA_CLI...] [--rounds N] -- ARGS...
Runs ARGS with each build in turn, N rounds (default 25), and prints the median and the least user
time (wait4, microseconds) of each build. Interleaving the builds lets the load of a shared machine
fall on all of them alike; user time leaves out the kernel's clearing of result pages, which swings
from run to run.
"""
import os
import statistics
import sys


def main():
    argv = sys.argv[1:]
    if "--" not in argv or not argv[0] or argv[0].startswith("-"):
        sys.exit(__doc__)
    split = argv.index("--")
    options, args = argv[:split], argv[split + 1:]
    builds = options[0].split(",")
    rounds = 25
    if len(options) == 3 and options[1] == "--rounds":
        rounds = int(options[2])
    times = {b: [] for b in builds}
    for _ in range(rounds):
        for build in builds:
            pid = os.fork()
            if pid == 0:
                null = os.open(os.devnull, os.O_WRONLY)
                os.dup2(null, 1)
                os.dup2(null, 2)
                os.execv(build, [build] + args)
            _, status, usage = os.wait4(pid, 0)
            if os.waitstatus_to_exitcode(status) != 0:
                sys.exit(f"{build} failed")
            times[build].append(usage.ru_utime)
    base = statistics.median(times[builds[0]])
    for build in builds:
        median = statistics.median(times[build])
        print(f"{build}: median user {median:.4f} s ({100 * (median / base - 1):+.1f} %), "
              f"least {min(times[build]):.4f} s")


if __name__ == "__main__":
    main()
