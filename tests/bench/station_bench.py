#!/usr/bin/env python3
"""Benchmark, not a test: a station's full-image update --verify on 1, 2, 4 and 8 units,
each a tq7300-sim paced at 38400 baud on its own pty. Prints, per station size, the wall
time, its ratio to one unit's, and the CPU time (user + system) of the tq73 processes per
unit; the simulators' own CPU is not counted.

Usage: station_bench.py TQ73 TQ7300_SIM FULL_IMAGE.mot
"""
import os
import resource
import select
import shutil
import subprocess
import sys
import tempfile
import time

TQ73, SIM, IMAGE = sys.argv[1:4]
WORK = tempfile.mkdtemp(prefix="tq73-station-bench.")


def start_sim(name):
    link = os.path.join(WORK, name)
    proc = subprocess.Popen([SIM, "--link", link, "--pace"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    ready, _, _ = select.select([proc.stdout], [], [], 10)
    if not ready or not proc.stdout.readline().startswith(b"READY"):
        sys.exit("station bench: the simulator did not start")
    return link, proc


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def station(n):
    sims = [start_sim(f"unit{n}-{i}") for i in range(n)]
    args = [TQ73, "--quiet"] + sum((["--port", link] for link, _ in sims), []) + ["update", "--verify", IMAGE]
    cpu = children_cpu()
    start = time.monotonic()
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    wall = time.monotonic() - start
    cpu = children_cpu() - cpu
    for _, proc in sims:
        proc.kill()
        proc.wait()
    if done.returncode != 0:
        sys.exit(f"station bench: {n} units ended with {done.returncode}:\n{done.stdout.decode()[-600:]}")
    return wall, cpu


def main():
    print("station: update --verify of a full image, tq7300-sim paced at 38400 baud, one pty each")
    print(f"{'units':>5} {'wall':>9} {'N / one':>8} {'tq73 CPU per unit':>18}")
    one = None
    for n in (1, 2, 4, 8):
        wall, cpu = station(n)
        one = one or wall
        print(f"{n:>5} {wall:>7.2f} s {wall / one:>8.3f} {1000 * cpu / n:>15.0f} ms", flush=True)
    shutil.rmtree(WORK, ignore_errors=True)


main()
