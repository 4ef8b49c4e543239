#!/usr/bin/env python3
"""The cost of a change to talvo-proteome: two builds run alternately, in
turns that swap which goes first, on the same inputs with the same options;
prints each build's median CPU time (user + system, from getrusage, so that
other jobs on the machine disturb it less than wall time) and their ratio.

Usage: bench/build_ratio.py OLD NEW ROUNDS INPUT... [-- OPTION...]
Options default to one thread and a shard table of every segment:
  --threads 1 --all --shard 0/1
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile


def cpu_seconds(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    options = ["--threads", "1", "--all", "--shard", "0/1"]
    if "--" in argv:
        options = argv[argv.index("--") + 1:]
        argv = argv[:argv.index("--")]
    builds = {"old": argv[0], "new": argv[1]}
    rounds = int(argv[2])
    with tempfile.TemporaryDirectory() as out:
        for path in argv[3:]:
            times = {"old": [], "new": []}
            for turn in range(rounds):
                order = ["old", "new"] if turn % 2 == 0 else ["new", "old"]
                for name in order:
                    command = [builds[name], "--no-progress", *options,
                               "--output", os.path.join(out, "table.tsv"), path]
                    times[name].append(cpu_seconds(command))
            old, new = (statistics.median(times[name]) for name in ("old", "new"))
            print(f"{os.path.basename(path)}: old {old:.4f} s, new {new:.4f} s, "
                  f"new/old {new / old:.4f} (medians of {rounds})")


if __name__ == "__main__":
    main(sys.argv[1:])
