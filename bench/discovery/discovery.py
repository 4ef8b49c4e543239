#!/usr/bin/python3
"""Discovery over a class set: every class of the set on every protein, with
Benjamini-Hochberg q-values over every row of every class.

Two engines give the same table:

* ``loop``: one ``talvo-proteome -A:<letters> --all`` run per class, the class
  name added to its rows, and the q-values computed here over the rows of all
  the runs together;
* ``discover`` (the default): one ``talvo-proteome --discover --all`` run
  (``--classes FILE`` unless the set is the tool's built-in one), whose table
  has a ``class`` column after ``id`` and the tool's q-values over every row
  of every class, which are used as they stand; they are recomputed here as
  well, and the largest relative difference from the tool's is reported.

``auto`` takes ``discover`` when the binary's ``--help`` mentions
``--discover``.

Only rows with p <= 0.05 are kept in memory (an awk filter counts the others):
a row with p above 0.05 has q above 0.05, and the q-value of a row at or below
0.05 depends only on the rows with p <= 0.05 and on the total count m, so the
q-values at or below 0.05 are exact; those above are reported as computed from
the kept rows (never below the true value's cap of 1, and always above 0.05).

Used as a module by calibration.py, power.py and class_evidence.py; as a
program it writes the discovery table of one FASTA file (rows with q <= -Q):

    /usr/bin/python3 bench/discovery/discovery.py [--classes FILE] \\
        [--engine discover|loop|auto] [--option=-G:1 --option=--exact-null ...] FILE
"""

import argparse
import concurrent.futures
import gzip
import io
import math
import os
import resource
import shlex
import subprocess
import sys
import time

import numpy as np
import pandas as pd

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_TALVO = os.path.join(HERE, "..", "..", "build", "talvo-proteome")
REAL_PROTEOME = "/usr/share/doc/mmseqs2/example-data/DB.fasta.gz"

# The SPROT background, in the tool's residue order.
RESIDUES = "WIYFLVMCAGHPSTNQDEKR"
SPROT = np.array([0.011577, 0.058323, 0.031278, 0.040824, 0.096916, 0.063863, 0.022428,
                  0.015555, 0.07427, 0.063888, 0.022561, 0.049454, 0.075638, 0.055031,
                  0.045539, 0.040844, 0.053209, 0.065786, 0.060709, 0.052307])
SPROT_OF = dict(zip(RESIDUES, SPROT))

ALPHA = 0.05

# Columns the filter keeps, by header name (class only when the tool writes it).
KEEP = ["class", "entry", "id", "length", "start", "end", "seg_length", "special", "p_value",
        "q_value"]

# Counts every row after the header (by class when the table has a class
# column, and by class and entry), prints the header's wanted columns and the
# rows with p <= 0.05, and the counts last as "#m<TAB>class<TAB>count" and
# "#n<TAB>class<TAB>entry<TAB>count" lines.
AWK_FILTER = r"""
BEGIN { FS = OFS = "\t"; split(keep, names, ",") }
NR == 1 {
  n = 0
  for (i = 1; i <= NF; i++) col[$i] = i
  for (k = 1; k in names; k++) if (names[k] in col) { out[++n] = col[names[k]]; head = head (n > 1 ? OFS : "") names[k] }
  pc = col["p_value"]
  cc = ("class" in col) ? col["class"] : 0
  ec = col["entry"]
  print head
  next
}
{
  c = cc ? $cc : ""
  m[c]++
  pair[c "\t" $ec]++
  if ($pc + 0 <= 0.05) {
    line = $(out[1])
    for (k = 2; k <= n; k++) line = line OFS $(out[k])
    print line
  }
}
END { for (c in m) print "#m", c, m[c]; for (k in pair) print "#n", k, pair[k] }
"""


def rule_linkage(letters, cap, floor=1):
    """The per-class linkage distance min(round(2 / (3P)), cap), at least floor:
    the -K estimate from the class's background P, bounded."""
    return max(floor, 1, min(int(round(2.0 / (3.0 * class_p(letters)))), cap))


def expand_rules(options, classes, class_options=None):
    """Turns the harness's pseudo-option '@linkage-cap:N[:F]' into a per-class -E
    (the rule_linkage of the class, capped at N, at least F)."""
    shared, per_class = [], {k: list(v) for k, v in (class_options or {}).items()}
    for option in options:
        if option.startswith("@linkage-cap:"):
            bounds = [int(x) for x in option.split(":")[1:]]
            for name, letters in classes:
                linkage = rule_linkage(letters, *bounds)
                per_class.setdefault(name, []).append(f"-E:{linkage}")
        else:
            shared.append(option)
    return shared, per_class


def class_p(letters, table=SPROT_OF):
    """The background probability that a residue is in the class."""
    return float(sum(table[c] for c in letters))


def read_classes(path):
    """NAME<TAB>LETTERS lines, '#' comments and blank lines ignored."""
    classes = []
    seen = set()
    with open(path) as handle:
        for number, line in enumerate(handle, 1):
            line = line.split("#", 1)[0].rstrip("\n").strip()
            if not line:
                continue
            fields = line.split("\t")
            if len(fields) != 2 or not fields[1].strip():
                raise ValueError(f"{path}:{number}: expected NAME<TAB>LETTERS")
            name, letters = fields[0].strip(), fields[1].strip().upper()
            if any(c not in RESIDUES for c in letters) or len(set(letters)) != len(letters):
                raise ValueError(f"{path}:{number}: bad letters '{letters}'")
            if name in seen:
                raise ValueError(f"{path}:{number}: duplicate name '{name}'")
            seen.add(name)
            classes.append((name, letters))
    return classes


def built_in_classes(talvo=DEFAULT_TALVO):
    """The tool's built-in class set, [(name, letters)], from --list-classes."""
    text = subprocess.run([talvo, "--list-classes"], capture_output=True, text=True,
                          check=True).stdout
    return [tuple(line.split("\t")[:2]) for line in text.splitlines()[1:]]


def write_classes(classes, path):
    with open(path, "w") as handle:
        for name, letters in classes:
            handle.write(f"{name}\t{letters}\n")


def read_fasta(path):
    """[(header without '>', sequence)] of a plain or gzip FASTA file."""
    opener = gzip.open if open(path, "rb").read(2) == b"\x1f\x8b" else open
    entries = []
    header, parts = None, []
    with opener(path, "rt") as handle:
        for line in handle:
            if line.startswith(">"):
                if header is not None:
                    entries.append((header, "".join(parts)))
                header, parts = line[1:].rstrip("\n"), []
            else:
                parts.append(line.strip())
    if header is not None:
        entries.append((header, "".join(parts)))
    return entries


def write_fasta(entries, path):
    with open(path, "w") as handle:
        for header, sequence in entries:
            handle.write(f">{header}\n")
            for i in range(0, len(sequence), 60):
                handle.write(sequence[i:i + 60] + "\n")


def supports_discover(talvo):
    try:
        text = subprocess.run([talvo, "--help"], capture_output=True, text=True).stdout
    except OSError:
        return False
    return "--discover" in text


def benjamini_hochberg(p, m):
    """BH q-values of the p-values p (a subset holding every p <= 0.05 of m)."""
    p = np.asarray(p, dtype=float)
    if p.size == 0:
        return p
    order = np.argsort(p, kind="stable")
    ranked = p[order] * m / np.arange(1, p.size + 1)
    ranked = np.minimum.accumulate(ranked[::-1])[::-1]
    q = np.empty_like(p)
    q[order] = np.minimum(ranked, 1.0)
    return q


def _filtered_run(command):
    """Run command | awk filter; returns (DataFrame of rows with p <= 0.05,
    ({class: rows}, DataFrame of the rows of each class and entry))."""
    keep = ",".join(KEEP)
    pipeline = (f"set -o pipefail; {' '.join(shlex.quote(c) for c in command)} "
                f"| awk -v keep={keep} {shlex.quote(AWK_FILTER)}")
    done = subprocess.run(["bash", "-c", pipeline], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}): {done.stderr.strip()}")
    text = done.stdout
    cut = text.find("\n#m\t")
    if cut < 0:
        raise RuntimeError(f"{' '.join(command)}: no row count in the output")
    counts, pairs = {}, []
    for line in text[cut + 1:].splitlines():
        fields = line.split("\t")
        if fields[0] == "#m":
            counts[fields[1]] = int(fields[2])
        else:
            pairs.append((fields[1], int(fields[2]), int(fields[3])))
    table = pd.read_csv(io.StringIO(text[:cut + 1]), sep="\t",
                        dtype={"id": str, "class": str}, keep_default_na=False, na_values=[],
                        quoting=3)
    m = (counts, pd.DataFrame(pairs, columns=["class", "entry", "n"]))
    return table, m


class Discovery:
    """The result of one discovery run."""

    def __init__(self, rows, m, per_class_m, pairs, wall, cpu, engine, tool_q_error=None):
        self.rows = rows                # rows with p <= 0.05, with class and q
        self.m = m                      # every row of every class (loop only)
        self.per_class_m = per_class_m  # {class: rows}
        self.pairs = pairs              # rows of each class and entry (class, entry, n)
        self.wall = wall
        self.cpu = cpu                  # CPU seconds of the child processes
        self.engine = engine
        self.tool_q_error = tool_q_error  # unused (kept for the evidence tables)

    def significant(self, alpha=ALPHA, method="bh"):
        """Rows at q <= alpha (method "bh"), or the rows selected by two_level."""
        if method == "two-level":
            return self.rows[two_level(self, alpha)]
        return self.rows[self.rows["q"] <= alpha]


def two_level(result, alpha=ALPHA):
    """Selection in two levels (an alternative to BH over every row, same rows):
    each class of each protein is a family of its rows; its Simes p-value,
    min over i of n * p_(i) / i, enters BH over every family of the run (level
    alpha), and within each of the R selected families of M, BH at level
    alpha * R / M picks the rows (Benjamini and Bogomolov 2014). Returns a
    boolean mask over result.rows."""
    rows = result.rows
    mask = np.zeros(len(rows), bool)
    if len(rows) == 0:
        return mask
    n_of = {(c, e): n for c, e, n in zip(result.pairs["class"], result.pairs["entry"],
                                         result.pairs["n"])}
    families = len(n_of)
    groups = rows.groupby(["class", "entry"], sort=False).indices
    keys, simes, ranked = [], [], []
    for key, index in groups.items():
        n = n_of[key]
        p = rows["p_value"].to_numpy()[index]
        order = np.argsort(p, kind="stable")
        terms = p[order] * n / np.arange(1, len(p) + 1)
        keys.append(key)
        simes.append(terms.min())
        ranked.append((index[order], terms))
    q = benjamini_hochberg(np.array(simes), families)
    selected = np.flatnonzero(q <= alpha)
    level = alpha * len(selected) / families
    for s in selected:
        index, terms = ranked[s]
        passing = np.flatnonzero(terms <= level)
        if passing.size:
            mask[index[:passing.max() + 1]] = True
    return mask


def run_discovery(fasta, classes, options=(), talvo=DEFAULT_TALVO, engine="discover", jobs=2,
                  threads=None, class_options=None, scratch=None):
    """Every class on every protein of fasta; q-values over all rows of all classes.

    classes: [(name, letters)]; options: talvo-proteome options shared by every
    class; class_options: {name: [extra options]} (loop engine only, for
    experiments with per-class settings; the pseudo-option '@linkage-cap:N'
    gives each class -E:min(round(2/(3P)), N)).
    """
    if engine == "auto":
        engine = "discover" if supports_discover(talvo) else "loop"
    options, class_options = expand_rules(options, classes, class_options)
    start = time.monotonic()
    cpu0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    tool_q_error = None
    if engine == "discover":
        if class_options:
            raise ValueError("per-class options need the loop engine")
        class_file = []
        if classes != built_in_classes(talvo):
            directory = scratch or os.environ.get("TMPDIR", "/tmp")
            path = os.path.join(directory, f"classes.{os.getpid()}.{id(classes)}.tsv")
            write_classes(classes, path)
            class_file = ["--classes", path]
        try:
            # The default table: the rows with p below -M (0.05), with the
            # tool's q-values over every row of every class.
            command = [talvo, "--discover", *class_file, "--no-progress",
                       "--threads", str(threads or jobs), *options, fasta]
            done = subprocess.run(command, capture_output=True, text=True)
        finally:
            if class_file:
                os.remove(class_file[1])
        if done.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed ({done.returncode}): "
                               f"{done.stderr.strip()}")
        table = pd.read_csv(io.StringIO(done.stdout), sep="\t", usecols=lambda c: c in KEEP,
                            dtype={"id": str, "class": str}, keep_default_na=False,
                            na_values=[], quoting=3)
        table["q"] = table["q_value"].astype(float)
        m, per_class_m, pairs = None, None, None
    else:
        def one(item):
            name, letters = item
            extra = (class_options or {}).get(name, [])
            command = [talvo, f"-A:{letters}", "--all", "--no-progress", "--threads",
                       str(threads or 1), *options, *extra, fasta]
            table, (counts, pairs) = _filtered_run(command)
            table.insert(0, "class", name)
            pairs["class"] = name
            return name, table, sum(counts.values()), pairs

        with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
            results = list(pool.map(one, classes))
        per_class_m = {name: m for name, _, m, _ in results}
        m = sum(per_class_m.values())
        table = pd.concat([t for _, t, _, _ in results], ignore_index=True)
        pairs = pd.concat([p for _, _, _, p in results], ignore_index=True)
        table["q"] = benjamini_hochberg(table["p_value"].to_numpy(), m)
    cpu1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (cpu1.ru_utime - cpu0.ru_utime) + (cpu1.ru_stime - cpu0.ru_stime)
    return Discovery(table, m, per_class_m, pairs, time.monotonic() - start, cpu, engine,
                     tool_q_error)


def clopper_pearson(k, n, level=0.95):
    """Exact binomial interval for k successes in n trials."""
    a = (1 - level) / 2

    def cdf(x, p):  # P(X <= x)
        return sum(math.comb(n, i) * p ** i * (1 - p) ** (n - i) for i in range(0, x + 1))

    def solve(f):  # root of an increasing f on [0, 1]
        lo, hi = 0.0, 1.0
        for _ in range(100):
            mid = (lo + hi) / 2
            if f(mid) > 0:
                hi = mid
            else:
                lo = mid
        return (lo + hi) / 2

    lower = 0.0 if k == 0 else solve(lambda p: (1 - cdf(k - 1, p)) - a)
    upper = 1.0 if k == n else solve(lambda p: a - cdf(k, p))
    return lower, upper


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("fasta")
    parser.add_argument("--classes", help="a class file (default: the tool's built-in set)")
    parser.add_argument("--talvo", default=DEFAULT_TALVO)
    parser.add_argument("--engine", choices=["auto", "loop", "discover"], default="discover")
    parser.add_argument("--option", action="append", default=[],
                        help="a talvo-proteome option for every class (repeat)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("-Q", type=float, default=ALPHA, help="q-value cut-off (0.05)")
    args = parser.parse_args()
    classes = read_classes(args.classes) if args.classes else built_in_classes(args.talvo)
    result = run_discovery(args.fasta, classes, args.option, args.talvo,
                           args.engine, args.jobs)
    rows = result.rows[result.rows["q"] <= args.Q].sort_values(["entry", "start", "class"])
    rows.drop(columns=["q_value"]).to_csv(sys.stdout, sep="\t", index=False)
    print(f"{result.engine}: {len(rows)} at q <= {args.Q}, "
          f"{result.wall:.1f} s wall, {result.cpu:.1f} s CPU", file=sys.stderr)


if __name__ == "__main__":
    main()
