#!/usr/bin/env python3
"""User and system CPU time, page faults and regions of one parse, per reader
and document.

Runs build/bench/bench/vyn_parse_loop with enough parses for about SECONDS of
CPU time (sized by a first run of ten) and with none, ROUNDS times each,
alternating, and reads each child's resource usage (os.wait4). The
run without parses (loading the corpus, writing its other forms, one parse)
is subtracted from the run with them. Prints per parse: the median user and
system time in microseconds with their spread (lowest-highest of the rounds),
the kernel's share, the median minor faults, the pages and regions the page
pool took and the system calls that released regions.

    python3 bench/kernel_time.py [--program PATH] [--seconds S] [--rounds R]
                                 [--readers json,msgpack,yaml]
                                 [--documents canada,citm_catalog,twitter]
"""

import argparse
import os
import statistics
import subprocess
import sys


def run(program, reader, document, count):
    child = subprocess.Popen([program, reader, document, str(count)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = child.stdout.read().decode()
    err = child.stderr.read().decode()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{program} {reader} {document} {count} failed: {err.strip()}")
    figures = dict(zip(out.split()[0::2], map(float, out.split()[1::2])))
    return usage.ru_utime, usage.ru_stime, usage.ru_minflt, figures


def measure(program, reader, document, count, rounds):
    user, system, faults = [], [], []
    figures = {}
    for _ in range(rounds):
        u0, s0, f0, _ = run(program, reader, document, 0)
        u1, s1, f1, figures = run(program, reader, document, count)
        user.append((u1 - u0) / count * 1e6)
        system.append((s1 - s0) / count * 1e6)
        faults.append((f1 - f0) / count)
    return user, system, faults, figures


def spread(values):
    return f"{statistics.median(values):8.0f} ({min(values):.0f}-{max(values):.0f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default="build/bench/bench/vyn_parse_loop")
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--readers", default="json,msgpack,yaml")
    parser.add_argument("--documents", default="canada,citm_catalog,twitter")
    args = parser.parse_args()
    print(f"{'reader':8} {'document':13} {'user us (spread)':>24} {'system us (spread)':>24}"
          f" {'kernel':>7} {'faults':>7} {'pages':>6} {'regions':>7} {'unmaps':>6}")
    for reader in args.readers.split(","):
        for document in args.documents.split(","):
            u0, s0, _, _ = run(args.program, reader, document, 0)
            u1, s1, _, _ = run(args.program, reader, document, 10)
            per_parse = max((u1 + s1 - u0 - s0) / 10, 1e-4)
            count = max(10, int(args.seconds / per_parse))
            user, system, faults, figures = measure(args.program, reader, document, count,
                                                    args.rounds)
            u, s = statistics.median(user), statistics.median(system)
            share = s / (u + s) * 100 if u + s > 0 else 0.0
            print(f"{reader:8} {document:13} {spread(user):>24} {spread(system):>24}"
                  f" {share:6.1f}% {statistics.median(faults):7.0f}"
                  f" {figures.get('pages_per_parse', 0):6.0f}"
                  f" {figures.get('regions_per_parse', 0):7.1f}"
                  f" {figures.get('releases_per_parse', 0):6.1f}", flush=True)


if __name__ == "__main__":
    main()
