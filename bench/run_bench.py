#!/usr/bin/env python3
"""Whole-program benchmark: trawlex --report against rg on the same searches.

Each pair runs the two commands back to back (alternating which goes first), after one
warm-up run of each; output always goes through a pipe. Reported per pair: both medians
and the median of the per-pair ratios (trawlex / rg), plus peak memory of one run.
"""
import argparse, datetime, os, platform, re, statistics, subprocess, tempfile, time


def timed(cmd):
    start = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    while p.stdout.read(1 << 20):
        pass
    p.wait()
    return time.perf_counter() - start


def peak_kb(cmd):
    with tempfile.NamedTemporaryFile("r") as f:
        p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", f.name] + cmd, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        while p.stdout.read(1 << 20):
            pass
        p.wait()
        text = f.read().strip().splitlines()
    return int(text[-1]) if text and text[-1].isdigit() else -1


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--trawlex", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--pairs", type=int, default=9)
    ap.add_argument("--matcher")
    ap.add_argument("--out")
    a = ap.parse_args()
    os.chdir(a.corpus)
    t = a.trawlex
    rg = ["rg", "--no-ignore", "-n", "-j2"]
    cases = []
    for where in ("tree", "big"):
        cases += [
            (f"{where}: literal 'return'", [t, "--report", "-t", "return", "-d", where, "-c", "1"], rg + ["-F", "return", where]),
            (f"{where}: rare 'Sherlock'", [t, "--report", "-t", "Sherlock", "-d", where, "-c", "1"], rg + ["-F", "Sherlock", where]),
            (f"{where}: case-insensitive 'hello world'", [t, "--report", "-t", "hello world", "-d", where, "-c", "0"],
             rg + ["-i", "-F", "hello world", where]),
            (f"{where}: whole word 'int'", [t, "--report", "-t", "int", "-d", where, "-c", "1", "-w", "1"],
             rg + ["-w", "-F", "int", where]),
        ]
    cases.append(("noise: rg against rg ('return', tree)", rg + ["-F", "return", "tree"], rg + ["-F", "return", "tree"]))

    rows = []
    for name, ours, theirs in cases:
        timed(ours), timed(theirs)  # warm-up
        a_times, b_times, ratios = [], [], []
        for i in range(a.pairs):
            if i % 2 == 0:
                x = timed(ours); y = timed(theirs)
            else:
                y = timed(theirs); x = timed(ours)
            a_times.append(x); b_times.append(y); ratios.append(x / y)
        mem = peak_kb(ours)
        row = (name, statistics.median(a_times), statistics.median(b_times), statistics.median(ratios), mem)
        rows.append(row)
        print(f"{name:45s} trawlex {row[1]:.3f}s  rg {row[2]:.3f}s  ratio {row[3]:.2f}  peak {mem / 1024:.0f} MiB", flush=True)

    matcher = ""
    if a.matcher and os.path.exists(a.matcher):
        out = subprocess.run([a.matcher, "--benchmark_min_time=0.3"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        matcher = "\n".join(l for l in out.splitlines() if re.search(r"_(ByteLoop|Fast)", l))
        print(matcher)

    if a.out:
        cpu = ""
        try:
            cpu = next(l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name"))
        except Exception:
            pass
        with open(a.out, "w") as f:
            f.write("# Benchmark results\n\n")
            f.write(f"Run {datetime.datetime.now():%Y-%m-%d %H:%M} on {platform.node() or 'this machine'}: "
                    f"{os.cpu_count()} cores ({cpu}), {platform.system()} {platform.release()}, "
                    f"{a.pairs} alternating pairs per row after a warm-up, output through a pipe.\n\n")
            f.write("Corpus: `../shared/bench/make-corpus.sh` (`tree`: ~70,000 text files, `big`: 4 files of 200 MiB).\n")
            f.write("Peer: `rg --no-ignore -n -j2 -F` (with `-i` or `-w` where the search is so).\n\n")
            f.write("| search | trawlex median | rg median | median ratio trawlex/rg | trawlex peak memory |\n|---|---|---|---|---|\n")
            for name, x, y, r, mem in rows:
                f.write(f"| {name} | {x:.3f} s | {y:.3f} s | {r:.2f} | {mem / 1024:.0f} MiB |\n")
            if matcher:
                f.write("\nMatcher alone (Google Benchmark, 8 MiB of generated source text in memory):\n\n```\n" + matcher + "\n```\n")


if __name__ == "__main__":
    main()
