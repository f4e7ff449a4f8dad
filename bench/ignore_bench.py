#!/usr/bin/env python3
"""Times a search that applies ignore files against rg in its default mode.

Makes (once) a tree like a checkout of a project with its build output: sources in nested
folders with .gitignore files of their own, and node_modules, build output, logs and
generated folders that the ignore files leave out (about three files of four). Then runs
`trawlex --report -i 1` and `rg -j2` (which applies ignore files by default) in alternating
pairs and prints one table row per target, the medians and their ratio.

  bench/ignore_bench.py --trawlex build/trawlex [--tree /tmp/ignore-corpus] [--pairs 9]
"""
import argparse
import os
import random
import resource
import statistics
import subprocess
import time

WORDS = ("int return value index count buffer result error status node item list map "
         "string file path line data size offset begin end first last next prev").split()


def source_text(rnd, lines):
    out = []
    for _ in range(lines):
        words = [rnd.choice(WORDS) for _ in range(rnd.randint(3, 10))]
        if rnd.random() < 0.002:
            words.insert(rnd.randint(0, len(words)), "Sherlock")
        out.append("    " + " ".join(words) + ";")
    return "\n".join(out) + "\n"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def make_tree(root):
    if os.path.exists(os.path.join(root, ".complete")):
        return
    subprocess.run(["rm", "-rf", root], check=True)
    os.makedirs(root)
    subprocess.run(["git", "init", "-q", root], check=True)
    rnd = random.Random(7)
    write(os.path.join(root, ".gitignore"),
          "# build output and tools\nnode_modules/\n/build/\ntarget/\n*.log\n!keep.log\n*.o\n__pycache__/\n"
          "dist/**\n!dist/README\n")
    # Sources: 60 packages of 5 folders of 12 files, each package with its own ignore file
    # and generated files.
    for p in range(60):
        pkg = os.path.join(root, "src", "pkg%02d" % p)
        write(os.path.join(pkg, ".gitignore"), "gen/\n*.tmp\n/local-*\n!keep.tmp\n")
        for d in range(5):
            for f in range(12):
                write(os.path.join(pkg, "mod%d" % d, "file%02d.c" % f), source_text(rnd, 120))
            write(os.path.join(pkg, "mod%d" % d, "scratch.tmp"), source_text(rnd, 60))
            write(os.path.join(pkg, "mod%d" % d, "trace.log"), source_text(rnd, 60))
        for g in range(20):
            write(os.path.join(pkg, "gen", "gen%02d.c" % g), source_text(rnd, 120))
        write(os.path.join(pkg, "local-notes.txt"), source_text(rnd, 30))
    # Dependencies and build output: the bulk of the tree, all ignored.
    for m in range(400):
        for f in range(25):
            write(os.path.join(root, "node_modules", "mod%03d" % m, "lib", "f%02d.js" % f), source_text(rnd, 60))
    for d in range(100):
        for f in range(40):
            write(os.path.join(root, "build", "obj%02d" % d, "f%02d.o" % f), source_text(rnd, 60))
    for f in range(500):
        write(os.path.join(root, "target", "debug", "deps", "d%03d.d" % f), source_text(rnd, 40))
    write(os.path.join(root, "dist", "README"), source_text(rnd, 20))
    for f in range(200):
        write(os.path.join(root, "dist", "bundle%03d.js" % f), source_text(rnd, 60))
    open(os.path.join(root, ".complete"), "w").close()


def timed(cmd):
    """Wall-clock seconds and CPU seconds (user and system) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode not in (0, 1):
        raise SystemExit("failed: %s (%d)" % (" ".join(cmd), proc.returncode))
    return elapsed, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--trawlex", required=True)
    ap.add_argument("--tree", default="/tmp/ignore-corpus")
    ap.add_argument("--pairs", type=int, default=9)
    a = ap.parse_args()
    make_tree(a.tree)
    print("| search | trawlex median | rg median | median ratio trawlex/rg | CPU time ratio trawlex/rg |")
    print("|---|---|---|---|---|")
    for target in ("Sherlock", "return"):
        ours = [a.trawlex, "--report", "-t", target, "-d", a.tree, "-p", "*", "-c", "1", "-i", "1"]
        peer = ["rg", "-n", "-j2", "-F", target, a.tree]
        timed(ours)
        timed(peer)  # warm-up: the tree in the page cache
        t_ours, t_peer, c_ours, c_peer = [], [], [], []
        for _ in range(a.pairs):
            t, c = timed(ours)
            t_ours.append(t)
            c_ours.append(c)
            t, c = timed(peer)
            t_peer.append(t)
            c_peer.append(c)
        m_ours, m_peer = statistics.median(t_ours), statistics.median(t_peer)
        print("| checkout with ignore files: '%s', -i 1 against rg's default | %.3f s | %.3f s | %.2f | %.2f |"
              % (target, m_ours, m_peer, m_ours / m_peer, statistics.median(c_ours) / statistics.median(c_peer)))


if __name__ == "__main__":
    main()
