#!/usr/bin/env python3
"""Whole-program benchmark: trawlex --report against rg on the same searches.

Each pair runs the two commands back to back (alternating which goes first), after one
warm-up run of each; output always goes through a pipe. Reported per pair: both medians
and the median of the per-pair ratios (trawlex / rg), plus peak memory of one run.

Cold-cache rows drop the page cache before every run (root only; skipped with the reason
otherwise). The million-file rows, warm and cold, run only when the corpus has `million/`
(scripts/bench builds it on request).
"""
import argparse, datetime, os, platform, re, statistics, subprocess, tempfile, time


def drop_caches():
    subprocess.run(["sync"])
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def cold_cache_refusal():
    """Why the page cache cannot be dropped here, or None when it can."""
    try:
        drop_caches()
        return None
    except OSError as e:
        return f"the page cache cannot be dropped here ({e.strerror})"


def timed(cmd, cold=False):
    if cold:
        drop_caches()
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
    ap.add_argument("--memory", help="the memory_bench program: bytes per line item of the results")
    ap.add_argument("--cold-pairs", type=int, default=3)
    ap.add_argument("--million-pairs", type=int, default=3)
    ap.add_argument("--only", help="run only the rows whose name contains this text")
    ap.add_argument("--out")
    a = ap.parse_args()
    t = os.path.abspath(a.trawlex)
    if a.matcher:
        a.matcher = os.path.abspath(a.matcher)
    if a.memory:
        a.memory = os.path.abspath(a.memory)
    if a.out:
        a.out = os.path.abspath(a.out)
    os.chdir(a.corpus)
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
            # Beyond ASCII, case folded by Unicode; 's' has a third spelling of another length (U+017F).
            (f"{where}: case-insensitive 'größe'", [t, "--report", "-t", "größe", "-d", where, "-c", "0"],
             rg + ["-i", "-F", "größe", where]),
            (f"{where}: case-insensitive 'straße'", [t, "--report", "-t", "straße", "-d", where, "-c", "0"],
             rg + ["-i", "-F", "straße", where]),
        ]
    # Regular expressions: the same pattern for both (rg without -F), case-sensitive.
    for where in ("tree", "big"):
        for pattern in (r"Sherlock [A-Z]\w+", r"\w+_t\b", r"(?i)hello\s+world", r"[0-9]{4}-[0-9]{2}-[0-9]{2}"):
            cases.append((f"{where}: regex '{pattern}'", [t, "--report", "-r", "1", "-t", pattern, "-d", where, "-c", "1"],
                          rg + [pattern, where]))
    cases.append(("noise: rg against rg ('return', tree)", rg + ["-F", "return", "tree"], rg + ["-F", "return", "tree"]))
    cases = [(n, o, r, a.pairs, False) for n, o, r in cases]
    skipped = []
    refusal = cold_cache_refusal()
    for where in ("tree", "big"):
        name = f"{where}, cold cache: rare 'Sherlock'"
        if refusal:
            skipped.append(f"{name}: skipped, {refusal}")
        else:
            cases.append((name, [t, "--report", "-t", "Sherlock", "-d", where, "-c", "1"], rg + ["-F", "Sherlock", where],
                          a.cold_pairs, True))
    if os.path.isfile("million/.complete"):
        cases.append(("million files: rare 'Sherlock'", [t, "--report", "-t", "Sherlock", "-d", "million", "-c", "1"],
                      rg + ["-F", "Sherlock", "million"], a.million_pairs, False))
        name = "million files, cold cache: rare 'Sherlock'"
        if refusal:
            skipped.append(f"{name}: skipped, {refusal}")
        else:
            cases.append((name, [t, "--report", "-t", "Sherlock", "-d", "million", "-c", "1"],
                          rg + ["-F", "Sherlock", "million"], a.million_pairs, True))
    else:
        skipped.append("million files: not run (no `million/` in the corpus; `scripts/bench --million` builds it)")
    if a.only:
        cases = [c for c in cases if a.only in c[0]]

    load_before = os.getloadavg()
    rows = []
    for name, ours, theirs, pairs, cold in cases:
        if not cold:
            timed(ours), timed(theirs)  # warm-up
        a_times, b_times, ratios = [], [], []
        for i in range(pairs):
            if i % 2 == 0:
                x = timed(ours, cold); y = timed(theirs, cold)
            else:
                y = timed(theirs, cold); x = timed(ours, cold)
            a_times.append(x); b_times.append(y); ratios.append(x / y)
        if cold:
            drop_caches()
        mem = peak_kb(ours)
        row = (name, statistics.median(a_times), statistics.median(b_times), statistics.median(ratios), mem)
        rows.append(row)
        print(f"{name:45s} trawlex {row[1]:.3f}s  rg {row[2]:.3f}s  ratio {row[3]:.2f}  peak {mem / 1024:.0f} MiB", flush=True)

    # Peak memory of a search with many finds, whose results the program keeps and rg does not.
    memory = []
    if not a.only or a.only in "memory":
        ours = [t, "--report", "-t", "the", "-d", "tree", "-c", "0"]
        memory.append(("tree: case-insensitive 'the' (900,000 lines)", peak_kb(ours), peak_kb(rg + ["-i", "-F", "the", "tree"])))
        for name, x, y in memory:
            print(f"{name:45s} peak trawlex {x / 1024:.0f} MiB  rg {y / 1024:.0f} MiB", flush=True)
    # What the results of that search hold per line item, beyond the line's own text.
    per_item = ""
    if a.memory and os.path.exists(a.memory) and (not a.only or a.only in "memory"):
        out = subprocess.run([a.memory, "tree", "the", "-c", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
        per_item = "\n".join(out.splitlines())
        print(per_item, flush=True)

    load_after = os.getloadavg()
    for line in skipped:
        print(line)

    matcher = ""
    if a.matcher and os.path.exists(a.matcher) and not a.only:
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
                    f"{a.pairs} alternating pairs per row after a warm-up ({a.cold_pairs} for the cold-cache rows, "
                    f"which drop the page cache before every run, and {a.million_pairs} for each million-file row), "
                    f"output through a pipe.\n")
            f.write(f"Load average (1, 5, 15 minutes) at the start {', '.join(f'{x:.1f}' for x in load_before)}, "
                    f"at the end {', '.join(f'{x:.1f}' for x in load_after)}.\n\n")
            f.write("Corpus: `../shared/bench/make-corpus.sh` (`tree`: ~70,000 text files, `big`: 4 files of 200 MiB; "
                    "`million`: `tree` 15 times over as hard links, about 1,040,000 files).\n")
            f.write("Peer: `rg --no-ignore -n -j2 -F` (with `-i` or `-w` where the search is so; without `-F` and with "
                    "`-r 1` for trawlex in the regex rows).\n\n")
            f.write("| search | trawlex median | rg median | median ratio trawlex/rg | trawlex peak memory |\n|---|---|---|---|---|\n")
            for name, x, y, r, mem in rows:
                f.write(f"| {name} | {x:.3f} s | {y:.3f} s | {r:.2f} | {mem / 1024:.0f} MiB |\n")
            if memory:
                f.write("\n| peak memory | trawlex | rg |\n|---|---|---|\n")
                for name, x, y in memory:
                    f.write(f"| {name} | {x / 1024:.0f} MiB | {y / 1024:.0f} MiB |\n")
            if per_item:
                f.write("\nResults in memory of that search (`memory_bench tree the -c 0`: the heap the results hold "
                        "once it is over, from the C library's allocator):\n\n```\n" + per_item + "\n```\n")
            for line in skipped:
                f.write(f"\n{line}\n")
            if matcher:
                f.write("\nMatcher alone (Google Benchmark, 8 MiB of generated source text in memory):\n\n```\n" + matcher + "\n```\n")


if __name__ == "__main__":
    main()
