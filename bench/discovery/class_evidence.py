#!/usr/bin/python3
"""Evidence for a class set from a real proteome: one discovery run over every
candidate class (BH over every row of every class), then for each class

* proteins and rows at q <= 0.05, and the residues they cover;
* for a class of several letters, the share of its significant rows that
  overlap a significant row of one of its own letters (the rows its letters
  would have found anyway) and the rows that overlap none ("new");
* the class whose significant rows overlap the largest share of its own, with
  that share both ways, and the Jaccard index of the residues the two cover;
* the share of its rows that overlap no significant row of any other class.

Usage (defaults: candidates.tsv beside this script, Debian's mmseqs2-examples
DB.fasta.gz, the default analysis):

    nice -n 10 /usr/bin/python3 bench/discovery/class_evidence.py \\
        [--classes FILE] [--option=-K ...] [--engine loop] [FASTA] > evidence.tsv
"""

import argparse
import collections
import os
import sys

import numpy as np
import pandas as pd

import discovery


def overlaps(a, b):
    """Index pairs (i, j) with interval a[i] overlapping b[j]; a, b: [(start, end)]."""
    pairs = []
    for i, (s1, e1) in enumerate(a):
        for j, (s2, e2) in enumerate(b):
            if s1 <= e2 and s2 <= e1:
                pairs.append((i, j))
    return pairs


def covered(intervals):
    positions = set()
    for s, e in intervals:
        positions.update(range(s, e + 1))
    return positions


def evidence(rows, classes):
    names = [n for n, _ in classes]
    letters = dict(classes)
    singles = {n for n, l in classes if len(l) == 1}
    by_entry = collections.defaultdict(lambda: collections.defaultdict(list))
    for c, e, s, t in zip(rows["class"], rows["entry"], rows["start"], rows["end"]):
        by_entry[e][c].append((s, t))

    n_rows = collections.Counter()
    proteins = collections.Counter()
    residues = collections.Counter()
    hit_by = collections.defaultdict(collections.Counter)  # a -> b -> rows of a overlapped by b
    own_letters = collections.Counter()   # rows of a overlapped by a single residue of a
    by_single = collections.Counter()     # rows of a overlapped by any single-residue class
    by_any = collections.Counter()        # rows of a overlapped by any other class
    shared = collections.defaultdict(collections.Counter)  # a -> b -> positions in both
    for e, per_class in by_entry.items():
        cover = {c: covered(iv) for c, iv in per_class.items()}
        for a, iv in per_class.items():
            n_rows[a] += len(iv)
            proteins[a] += 1
            residues[a] += len(cover[a])
            flags_own = np.zeros(len(iv), bool)
            flags_single = np.zeros(len(iv), bool)
            flags_any = np.zeros(len(iv), bool)
            for b, jv in per_class.items():
                if b == a:
                    continue
                hit = np.zeros(len(iv), bool)
                for i, _ in overlaps(iv, jv):
                    hit[i] = True
                hit_by[a][b] += int(hit.sum())
                flags_any |= hit
                if b in singles:
                    flags_single |= hit
                    if letters[b] in letters[a]:
                        flags_own |= hit
                shared[a][b] += len(cover[a] & cover[b])
            own_letters[a] += int(flags_own.sum())
            by_single[a] += int(flags_single.sum())
            by_any[a] += int(flags_any.sum())

    out = []
    for a in names:
        row = {"class": a, "letters": letters[a], "P": round(discovery.class_p(letters[a]), 4),
               "proteins": proteins[a], "rows": n_rows[a], "residues": residues[a]}
        k = n_rows[a]
        if len(letters[a]) > 1:
            row["by_own_letters"] = round(own_letters[a] / k, 3) if k else np.nan
            row["new_rows"] = k - own_letters[a]
        else:
            row["by_own_letters"] = np.nan
            row["new_rows"] = np.nan
        row["by_no_single"] = k - by_single[a] if len(letters[a]) > 1 else np.nan
        row["unique_rows"] = k - by_any[a]
        if hit_by[a] and max(hit_by[a].values()) > 0:
            b, count = max(hit_by[a].items(), key=lambda x: (x[1], x[0]))
            row["closest"] = b
            row["share_by_closest"] = round(count / k, 3)
            row["share_of_closest"] = round(hit_by[b][a] / n_rows[b], 3) if n_rows[b] else np.nan
            union = residues[a] + residues[b] - shared[a][b]
            row["jaccard_residues"] = round(shared[a][b] / union, 3) if union else np.nan
        out.append(row)
    return pd.DataFrame(out)


def coverage(rows):
    """{entry: set of positions} covered by the rows."""
    cover = collections.defaultdict(set)
    for e, s, t in zip(rows["entry"], rows["start"], rows["end"]):
        cover[e].update(range(s, t + 1))
    return cover


def leave_one_out(result, classes, alpha=discovery.ALPHA):
    """For each class: what the set without it loses (BH redone over the rest)."""
    full = result.significant(alpha)
    full_cover = coverage(full)
    out = []
    for name, _ in classes:
        rest = result.rows[result.rows["class"] != name].copy()
        m = result.m - result.per_class_m.get(name, 0)
        rest["q"] = discovery.benjamini_hochberg(rest["p_value"].to_numpy(), m)
        cover = coverage(rest[rest["q"] <= alpha])
        lost_proteins = sum(1 for e in full_cover if e not in cover)
        gained_proteins = sum(1 for e in cover if e not in full_cover)
        lost_residues = sum(len(p - cover.get(e, set())) for e, p in full_cover.items())
        gained_residues = sum(len(p - full_cover.get(e, set())) for e, p in cover.items())
        out.append({"class": name, "rows_all": result.per_class_m.get(name, 0),
                    "without_it_proteins_lost": lost_proteins,
                    "without_it_proteins_gained": gained_proteins,
                    "without_it_residues_lost": lost_residues,
                    "without_it_residues_gained": gained_residues})
    return pd.DataFrame(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("fasta", nargs="?", default=discovery.REAL_PROTEOME)
    parser.add_argument("--classes", default=os.path.join(discovery.HERE, "candidates.tsv"))
    parser.add_argument("--talvo", default=discovery.DEFAULT_TALVO)
    # Each class's count of rows needs every row: the per-class loop's --all tables.
    parser.add_argument("--engine", choices=["loop"], default="loop")
    parser.add_argument("--option", action="append", default=[])
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--pairs", help="write the overlap matrix (rows of A overlapped by B) here")
    args = parser.parse_args()
    classes = discovery.read_classes(args.classes)
    result = discovery.run_discovery(args.fasta, classes, args.option, args.talvo, args.engine,
                                     args.jobs)
    sig = result.significant()
    table = evidence(sig, classes).merge(leave_one_out(result, classes), on="class")
    table.to_csv(sys.stdout, sep="\t", index=False)
    total = sig["entry"].nunique()
    print(f"# {result.engine}, options {' '.join(args.option) or '(default)'}: {result.m} rows, "
          f"{len(sig)} at q <= 0.05 in {total} proteins; {result.wall:.1f} s wall, "
          f"{result.cpu:.1f} s CPU", file=sys.stderr)
    if args.pairs:
        names = [n for n, _ in classes]
        matrix = pd.DataFrame(0.0, index=names, columns=names)
        by_entry = {e: g for e, g in sig.groupby("entry")}
        counts = collections.Counter(sig["class"])
        for e, g in by_entry.items():
            per = {c: list(zip(h["start"], h["end"])) for c, h in g.groupby("class")}
            for a, iv in per.items():
                for b, jv in per.items():
                    if a != b:
                        hit = {i for i, _ in overlaps(iv, jv)}
                        matrix.loc[a, b] += len(hit)
        for a in names:
            if counts[a]:
                matrix.loc[a] /= counts[a]
        matrix.round(3).to_csv(args.pairs, sep="\t")


if __name__ == "__main__":
    main()
