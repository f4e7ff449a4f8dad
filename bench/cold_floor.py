#!/usr/bin/env python3
"""How fast the disk gives a folder's files from a cold cache, beside the program and rg.

Each round drops the page cache before every command and runs, in turn: the program, rg -j2,
and plain readers that only copy the files' bytes to /dev/null (`cat` over the files, split
among 2 and among 4 processes). The readers do no matching, so their time is what the disk
allows for that many reads in flight; the program can only come close to it. Prints each
command's median and its median ratio to rg within a round.

  sudo bench/cold_floor.py --trawlex build/trawlex --corpus /tmp/perf-corpus --folder big --rounds 10
"""
import argparse
import os
import statistics
import subprocess

from run_bench import cold_cache_refusal, timed


def readers(folder, count):
    """A shell command copying the folder's files with `count` cat processes at once."""
    return ["sh", "-c", f"find {folder} -type f -print0 | sort -z | xargs -0 -P {count} -n 1 cat > /dev/null"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--trawlex", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--folder", default="big")
    ap.add_argument("--target", default="Sherlock")
    ap.add_argument("--rounds", type=int, default=10)
    a = ap.parse_args()
    refusal = cold_cache_refusal()
    if refusal:
        raise SystemExit(f"cold_floor: {refusal}")
    ours = os.path.abspath(a.trawlex)
    os.chdir(a.corpus)
    commands = [
        ("trawlex", [ours, "--report", "-t", a.target, "-d", a.folder, "-c", "1"]),
        ("rg -j2", ["rg", "--no-ignore", "-n", "-j2", "-F", a.target, a.folder]),
        ("2 readers", readers(a.folder, 2)),
        ("4 readers", readers(a.folder, 4)),
    ]
    times = {name: [] for name, _ in commands}
    ratios = {name: [] for name, _ in commands}
    load_before = os.getloadavg()
    for i in range(a.rounds):
        order = commands if i % 2 == 0 else commands[::-1]
        took = {name: timed(cmd, cold=True) for name, cmd in order}
        for name, _ in commands:
            times[name].append(took[name])
            ratios[name].append(took[name] / took["rg -j2"])
    load_after = os.getloadavg()
    print(f"{a.folder}, cold cache, {a.rounds} rounds, load {load_before[0]:.1f} -> {load_after[0]:.1f}")
    print("| command | median | median ratio to rg -j2 |")
    print("|---|---|---|")
    for name, _ in commands:
        print(f"| {name} | {statistics.median(times[name]):.3f} s | {statistics.median(ratios[name]):.2f} |")


if __name__ == "__main__":
    main()
