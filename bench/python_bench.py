#!/usr/bin/python3
"""Speed of the Python package against talvo-proteome, in the same run.

  PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--threads-only] [build/talvo-proteome]

1. analyse_file with 2 threads against 1 on a random-sequence workload
   (shuffles=200): the analysis runs without the interpreter lock, so two
   threads should take about half the time.
2. The binding's cost per protein in runs mode, where the analysis itself is
   cheap: analyse_file (reading every segment of every result, or none)
   against talvo-proteome (writing only the few segments below 0.05), and
   proteome_table(all=True) against talvo-proteome --all (the same table).
Each time is the best of three runs (of five for the threads).
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import talvo

RESIDUES = "ACDEFGHIKLMNPQRSTVWY"


def write_proteome(path, count, seed):
    rng = random.Random(seed)
    with open(path, "w") as out:
        for number in range(count):
            residues = "".join(rng.choices(RESIDUES, k=rng.randint(100, 600)))
            out.write(f">r{number}\n{residues}\n")


def best_of(runs, work):
    return min(timed(work) for _ in range(runs))


def timed(work):
    """Wall-clock seconds and this process's CPU seconds (all its threads)."""
    wall, cpu = time.perf_counter(), time.process_time()
    work()
    return time.perf_counter() - wall, time.process_time() - cpu


def thread_cpu(work):
    """Runs work and returns the CPU seconds of each of this process's threads
    (sampled every 20 ms from /proc, so threads that end are counted too)."""
    ticks = os.sysconf("SC_CLK_TCK")
    seen = {}
    done = threading.Event()
    sampler_id = []

    def read_all():
        for task in os.listdir("/proc/self/task"):
            try:
                with open(f"/proc/self/task/{task}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            yield int(task), int(fields[11]) + int(fields[12])  # utime + stime

    def sample():
        sampler_id.append(threading.get_native_id())
        while True:
            for task, count in read_all():
                seen[task] = max(seen.get(task, 0), count)
            if done.wait(0.02):
                return

    before = dict(read_all())  # threads that already ran count from here
    sampler = threading.Thread(target=sample)
    sampler.start()
    try:
        work()
    finally:
        done.set()
        sampler.join()
    seen.pop(sampler_id[0], None)
    return {task: (count - before.get(task, 0)) / ticks for task, count in seen.items()}


def consume(path, threads, **options):
    for _, _, result in talvo.analyse_file(path, threads=threads, **options):
        for segment in result.segments:
            segment.p_value


def iterate(path, threads):
    for _ in talvo.analyse_file(path, threads=threads):
        pass


def proteome(binary, path, threads, *options):
    subprocess.run([binary, "--threads", str(threads), *options, path],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    args = [arg for arg in sys.argv[1:] if arg != "--threads-only"]
    binary = args[0] if args else "build/talvo-proteome"
    workdir = tempfile.mkdtemp(prefix="talvo-bench-")
    try:
        shuffled = os.path.join(workdir, "shuffled.fa")
        write_proteome(shuffled, 1500, 1)
        # Interleaved, so that a change in the machine's load hits both.
        rounds = [[timed(lambda: consume(shuffled, t, shuffles=200, seed=1)) for t in (1, 2)]
                  + [timed(lambda: proteome(binary, shuffled, t, "-S:200", "--seed", "1"))
                     for t in (1, 2)] for _ in range(5)]
        (one, one_cpu), (two, two_cpu), (bin_one, _), (bin_two, _) = [
            min(times) for times in zip(*rounds)]
        print("1500 random proteins, shuffles=200 (-S:200)")
        print(f"  analyse_file  threads=1 {one:.3f} s (CPU {one_cpu:.3f} s)  threads=2 {two:.3f} s "
              f"(CPU {two_cpu:.3f} s)  speed-up {one / two:.2f}x")
        print(f"  talvo-proteome        1 {bin_one:.3f} s                  2 {bin_two:.3f} s"
              f"                  speed-up {bin_one / bin_two:.2f}x")
        # On a busy machine the wall-clock ratio says little: the CPU time of
        # each thread shows how the work divides, whatever the load.
        cpu = thread_cpu(lambda: consume(shuffled, 2, shuffles=200, seed=1))
        main_cpu = cpu.pop(threading.get_native_id(), 0.0)
        busiest = max(cpu.values())
        print(f"  analyse_file threads=2, CPU by thread: Python {main_cpu:.3f} s, others "
              + ", ".join(f"{seconds:.3f}" for seconds in sorted(cpu.values(), reverse=True))
              + f" s; the busiest holds {busiest / (main_cpu + sum(cpu.values())):.0%} of it, "
              f"so an idle machine allows {(main_cpu + sum(cpu.values())) / busiest:.2f}x")
        if "--threads-only" in sys.argv:
            return

        count = 20000
        runs = os.path.join(workdir, "runs.fa")
        write_proteome(runs, count, 2)
        for threads in (1, 2):
            py_file = best_of(3, lambda: consume(runs, threads))[0]
            py_bare = best_of(3, lambda: iterate(runs, threads))[0]
            py_table = best_of(3, lambda: talvo.proteome_table(runs, threads=threads, all=True))[0]
            binary_few = best_of(3, lambda: proteome(binary, runs, threads))[0]
            binary_all = best_of(3, lambda: proteome(binary, runs, threads, "--all"))[0]
            print(f"{count} random proteins, runs mode, threads={threads}")
            print(f"  talvo-proteome         {binary_few:.3f} s  "
                  f"{binary_few / count * 1e6:.1f} us per protein")
            print(f"  analyse_file           {py_file:.3f} s  {py_file / count * 1e6:.1f} us per protein"
                  f"  ({(py_file - binary_few) / count * 1e6:+.1f} us, {py_file / binary_few:.2f}x)")
            print(f"  analyse_file, results not opened"
                  f"  {py_bare:.3f} s  {py_bare / count * 1e6:.1f} us per protein"
                  f"  ({(py_bare - binary_few) / count * 1e6:+.1f} us, {py_bare / binary_few:.2f}x)")
            print(f"  talvo-proteome --all   {binary_all:.3f} s  "
                  f"{binary_all / count * 1e6:.1f} us per protein")
            print(f"  proteome_table(all)    {py_table:.3f} s  {py_table / count * 1e6:.1f} us per protein"
                  f"  ({(py_table - binary_all) / count * 1e6:+.1f} us, {py_table / binary_all:.2f}x)")
    finally:
        shutil.rmtree(workdir)


if __name__ == "__main__":
    main()
