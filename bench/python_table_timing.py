#!/usr/bin/python3
"""proteome_table against talvo-proteome on real proteins, in the same run.

  PYTHONPATH=build/python /usr/bin/python3 bench/python_table_timing.py \
      [--discover] [build/talvo-proteome] [FASTA] [rounds]

talvo.proteome_table(FASTA, threads=2, all=True) against
`talvo-proteome --threads 2 --all --no-progress FASTA > /dev/null` (the same
table), alternating, after one warm-up call (imports, page cache). Prints
the best wall time and the best CPU time (all threads: the process's own
for Python, the child's for talvo-proteome) of each, and their ratios; on a
shared, loaded machine the CPU ratio says more. FASTA defaults to Debian's
mmseqs2 example proteins (20,000 real proteins). --discover times both
with every class of the built-in set (talvo-proteome --discover).
"""
import resource
import subprocess
import sys
import time

import talvo

DEFAULT_FASTA = "/usr/share/doc/mmseqs2/example-data/DB.fasta.gz"
DISCOVER = "--discover" in sys.argv


def time_binary(binary, fasta):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall = time.perf_counter()
    subprocess.run([binary, "--threads", "2", "--all", "--no-progress",
                    *(["--discover"] if DISCOVER else []), fasta], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - wall
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def time_python(fasta):
    wall, cpu = time.perf_counter(), time.process_time()
    talvo.proteome_table(fasta, threads=2, all=True, progress=False, discover=DISCOVER)
    return time.perf_counter() - wall, time.process_time() - cpu


def main():
    args = [arg for arg in sys.argv[1:] if arg != "--discover"]
    binary = args[0] if len(args) > 0 else "build/talvo-proteome"
    fasta = args[1] if len(args) > 1 else DEFAULT_FASTA
    rounds = int(args[2]) if len(args) > 2 else 7
    rows = len(talvo.proteome_table(fasta, threads=2, all=True, progress=False,
                                    discover=DISCOVER))
    tool, table = [], []
    for _ in range(rounds):
        tool.append(time_binary(binary, fasta))
        table.append(time_python(fasta))
    (tool_wall, tool_cpu), (table_wall, table_cpu) = [
        (min(wall for wall, _ in runs), min(cpu for _, cpu in runs)) for runs in (tool, table)]
    print(f"{fasta}: {rows} rows, threads=2, best of {rounds} alternating runs")
    print(f"  talvo-proteome --all    wall {tool_wall:.3f} s  CPU {tool_cpu:.3f} s")
    print(f"  proteome_table(all)     wall {table_wall:.3f} s  CPU {table_cpu:.3f} s")
    print(f"  ratio                   wall {table_wall / tool_wall:.2f}x  "
          f"CPU {table_cpu / tool_cpu:.2f}x")


if __name__ == "__main__":
    main()
