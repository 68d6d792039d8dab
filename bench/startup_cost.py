#!/usr/bin/env python3
"""How much a program pays to start: `PROGRAM --version` timed over a number of runs (the
median and the spread), and the shared libraries the dynamic loader maps for it (those loaded
later with dlopen included), for each program given, side by side.

    bench/startup_cost.py [--runs N] PROGRAM...
"""
import argparse
import os
import statistics
import subprocess
import time


def libraries(program):
    env = dict(os.environ, LD_DEBUG="files")
    run = subprocess.run([program, "--version"], env=env, capture_output=True, text=True)
    names = set()
    for line in run.stderr.splitlines():
        if "generating link map" in line and "file=" in line:
            names.add(line.split("file=", 1)[1].split(" ", 1)[0])
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    print(f"{'program':40} {'median ms':>10} {'min ms':>8} {'max ms':>8} {'libraries':>10}  (loaded by the dynamic loader)")
    # The programs take turns, so that a busy moment of the machine falls on all of them.
    times = {program: [] for program in args.programs}
    for _ in range(args.runs):
        for program in args.programs:
            start = time.perf_counter()
            subprocess.run([program, "--version"], stdout=subprocess.DEVNULL, check=True)
            times[program].append((time.perf_counter() - start) * 1000)
    for program in args.programs:
        t = times[program]
        print(f"{program:40} {statistics.median(t):10.1f} {min(t):8.1f} {max(t):8.1f} "
              f"{len(libraries(program)):10d}")


if __name__ == "__main__":
    main()
