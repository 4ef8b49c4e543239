#!/usr/bin/python3
"""Power of discovery: real proteins, each shuffled (its composition kept, any
local bias destroyed), with 20-residue tracts of chosen classes planted in a
fraction of them, analysed by talvo-proteome --discover (its built-in class set unless
--classes) at each density.

A tract of class C at density d holds round(d * length) residues of C at
random positions (letters of C equally likely), the others drawn from the
SPROT background outside C, and replaces the residues at a random position of
the shuffled protein. The tracts, their positions and their residue draws are
the same at every density (a denser tract adds class residues to a sparser
one), so densities and settings are compared on the same proteins.

For each setting and density:

* recall: tracts overlapped by a row at q <= 0.05 of the planted class;
* detected: tracts overlapped by a row at q <= 0.05 of any class;
* label accuracy: among detected tracts, those whose overlapping row with the
  smallest p-value is of the planted class;
* precision: rows at q <= 0.05 that overlap a tract (of any class);
* per class (--per-class): recall, label accuracy, and the rows at q <= 0.05
  of the class on a tract and off every tract.

Targets (20-residue tracts): recall >= 95% at 65% and >= 85% at 55%, label
accuracy >= 90%, precision >= 90%.

    nice -n 10 /usr/bin/python3 bench/discovery/power.py --densities 0.55,0.65 \\
        [--plant QN,RG,...] [--setting LABEL=OPTIONS ...] [--out per_tract.tsv]

Temporary proteomes go to a directory under $TMPDIR, removed at the end.
"""

import argparse
import collections
import os
import shutil
import signal
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import discovery

DEFAULT_SETTINGS = ["scan=", "G-exact=-G:1 --exact-null"]
# "bh": the tool's q-values over every row of every class; "two-level":
# discovery.two_level (an alternative weighed while choosing, --methods).
METHODS = ["bh"]


def plan_tracts(entries, plant, fraction, length, seed):
    """One tract per chosen protein: (entry number, class name, letters, start, draws)."""
    rng = np.random.default_rng(seed)
    eligible = [i for i, (_, s) in enumerate(entries) if len(s) >= 3 * length]
    count = int(round(fraction * len(entries)))
    chosen = np.sort(rng.choice(eligible, size=min(count, len(eligible)), replace=False))
    tracts = []
    for k, i in enumerate(chosen):
        name, letters = plant[k % len(plant)]
        n = len(entries[i][1])
        start = int(rng.integers(0, n - length + 1))
        order = rng.permutation(length)           # class positions: the first round(d*L)
        inside = rng.choice(list(letters), size=length)
        outside_letters = [c for c in discovery.RESIDUES if c not in letters]
        weights = np.array([discovery.SPROT_OF[c] for c in outside_letters])
        outside = rng.choice(outside_letters, size=length, p=weights / weights.sum())
        tracts.append({"entry": int(i) + 1, "class": name, "letters": letters, "start": start + 1,
                       "end": start + length, "order": order, "inside": inside,
                       "outside": outside})
    return tracts


def shuffled(entries, seed):
    rng = np.random.default_rng(seed)
    out = []
    for header, sequence in entries:
        chars = np.frombuffer(sequence.encode(), dtype=np.uint8).copy()
        rng.shuffle(chars)
        out.append((header.split()[0] + " shuffled", chars.tobytes().decode()))
    return out


def plant_tracts(base, tracts, density, length):
    entries = list(base)
    k = int(round(density * length))
    for t in tracts:
        inside = np.zeros(length, bool)
        inside[t["order"][:k]] = True
        tract = [t["inside"][j] if inside[j] else t["outside"][j] for j in range(length)]
        header, sequence = entries[t["entry"] - 1]
        s = t["start"] - 1
        entries[t["entry"] - 1] = (header, sequence[:s] + "".join(tract) + sequence[s + length:])
    return entries


def score(result, tracts, method, alpha=discovery.ALPHA):
    sig = result.significant(alpha, method)
    by_entry = collections.defaultdict(list)
    for c, e, s, t, p in zip(sig["class"], sig["entry"], sig["start"], sig["end"],
                             sig["p_value"]):
        by_entry[e].append((c, s, t, p))
    per_tract = []
    on_tract = 0
    off_by_class, on_by_class = collections.Counter(), collections.Counter()
    tract_of = {t["entry"]: t for t in tracts}
    for e, rows in by_entry.items():
        t = tract_of.get(e)
        for c, s, u, _ in rows:
            if t is not None and s <= t["end"] and t["start"] <= u:
                on_tract += 1
                on_by_class[c] += 1
            else:
                off_by_class[c] += 1
    for t in tracts:
        rows = [r for r in by_entry.get(t["entry"], []) if r[1] <= t["end"] and t["start"] <= r[2]]
        right = [r for r in rows if r[0] == t["class"]]
        best = min(rows, key=lambda r: r[3])[0] if rows else ""
        per_tract.append({"entry": t["entry"], "class": t["class"], "detected": bool(rows),
                          "right": bool(right), "best_label": best,
                          "label_ok": bool(rows) and best == t["class"],
                          "extent": (max(r[2] for r in right) - min(r[1] for r in right) + 1)
                          if right else 0})
    return pd.DataFrame(per_tract), len(sig), on_tract, (on_by_class, off_by_class)


def group_of(letters):
    """single residues; classes of several letters with background P below 0.2
    ("narrow"); the others ("broad")."""
    if len(letters) == 1:
        return "single"
    return "narrow" if discovery.class_p(letters) < 0.2 else "broad"


def summarise(per_tract, counts, letters):
    lines = []
    keys = ["setting", "density"]
    for (setting, density), g in per_tract.groupby(keys, sort=False):
        rows, on = counts[(setting, density)]
        for name, h in [("all", g)] + [(n, h) for n, h in g.groupby(
                g["class"].map(lambda c: group_of(letters[c])), sort=False)]:
            detected = h["detected"].sum()
            lines.append({"setting": setting, "density": density, "group": name,
                          "tracts": len(h), "recall": round(h["right"].mean(), 4),
                          "detected": round(h["detected"].mean(), 4),
                          "label_accuracy": round(h["label_ok"].sum() / detected, 4)
                          if detected else np.nan,
                          "precision": round(on / rows, 4) if (rows and name == "all") else np.nan,
                          "rows_q05": rows if name == "all" else np.nan})
    return pd.DataFrame(lines)


def per_class(per_tract):
    return (per_tract.groupby(["setting", "density", "class"], sort=False)
            .agg(tracts=("right", "size"), recall=("right", "mean"),
                 detected=("detected", "mean"), label_ok=("label_ok", "sum"),
                 n_detected=("detected", "sum"))
            .assign(label_accuracy=lambda d: (d["label_ok"] / d["n_detected"]).round(3),
                    recall=lambda d: d["recall"].round(3), detected=lambda d: d["detected"].round(3))
            .drop(columns=["label_ok", "n_detected"]).reset_index())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--proteome", default=discovery.REAL_PROTEOME)
    parser.add_argument("--proteins", type=int, default=20000, help="first N proteins")
    parser.add_argument("--classes", help="a class file (default: the tool's built-in set)")
    parser.add_argument("--plant", help="classes to plant, by name (default: every class)")
    parser.add_argument("--densities", default="0.55,0.65")
    parser.add_argument("--length", type=int, default=20)
    parser.add_argument("--fraction", type=float, default=1.0,
                        help="fraction of the proteins of at least 3 tract lengths that get a "
                             "tract (1: all)")
    parser.add_argument("--seed", type=int, default=25)
    parser.add_argument("--setting", action="append", help="LABEL=OPTIONS (repeat)")
    parser.add_argument("--class-options", action="append", default=[],
                        help="LABEL:CLASS=OPTIONS, extra options of one class in one setting "
                             "(loop engine)")
    parser.add_argument("--talvo", default=discovery.DEFAULT_TALVO)
    parser.add_argument("--engine", choices=["auto", "loop", "discover"], default="discover")
    parser.add_argument("--methods", default=",".join(METHODS), help="bh and/or two-level")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--out", help="per-tract results (TSV)")
    parser.add_argument("--per-class", help="per-class results (TSV)")
    args = parser.parse_args()
    METHODS[:] = args.methods.split(",")

    settings = [(s.partition("=")[0], s.partition("=")[2].split())
                for s in (args.setting or DEFAULT_SETTINGS)]
    class_options = collections.defaultdict(dict)
    for item in args.class_options:
        head, _, options = item.partition("=")
        label, _, name = head.partition(":")
        class_options[label][name] = options.split()
    classes = (discovery.read_classes(args.classes) if args.classes
               else discovery.built_in_classes(args.talvo))
    letters = dict(classes)
    plant = [(n, letters[n]) for n in args.plant.split(",")] if args.plant else classes
    entries = discovery.read_fasta(args.proteome)[:args.proteins]
    base = shuffled(entries, args.seed)
    tracts = plan_tracts(base, plant, args.fraction, args.length, args.seed + 1)
    densities = [float(d) for d in args.densities.split(",")]

    # A terminated run still removes its temporary files.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix="talvo-power.")
    frames, counts, times, off_rows = [], {}, [], []
    started = time.monotonic()
    try:
        for density in densities:
            fasta = os.path.join(scratch, "planted.fa")
            discovery.write_fasta(plant_tracts(base, tracts, density, args.length), fasta)
            for label, options in settings:
                res = discovery.run_discovery(fasta, classes, options, args.talvo, args.engine,
                                              args.jobs, class_options=class_options.get(label),
                                              scratch=scratch)
                for method in METHODS:
                    name = label if method == "bh" else f"{label}/{method}"
                    table, rows, on, (on_class, off) = score(res, tracts, method)
                    for cls, _ in classes:
                        off_rows.append({"setting": name, "density": density, "class": cls,
                                         "on_tract_rows": on_class.get(cls, 0),
                                         "off_tract_rows": off.get(cls, 0)})
                    table.insert(0, "density", density)
                    table.insert(0, "setting", name)
                    frames.append(table)
                    counts[(name, density)] = (rows, on)
                    print(f"{name} d={density}: recall {table['right'].mean():.3f}, "
                          f"{rows} rows at q <= 0.05, {on} on a tract, {res.wall:.1f} s",
                          file=sys.stderr, flush=True)
                times.append((label, density, res.wall, res.cpu))
            os.remove(fasta)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    per_tract = pd.concat(frames, ignore_index=True)
    if args.out:
        per_tract.to_csv(args.out, sep="\t", index=False)
    if args.per_class:
        table = per_class(per_tract).merge(pd.DataFrame(off_rows), how="outer",
                                           on=["setting", "density", "class"])
        table.to_csv(args.per_class, sep="\t", index=False)
    print(f"# {len(entries)} shuffled proteins, {len(tracts)} tracts of {args.length} residues "
          f"({len(plant)} classes), class set {args.classes or 'built-in'} ({len(classes)}), "
          f"{time.monotonic() - started:.0f} s in all; seconds per run: " +
          ", ".join(f"{l} d={d}: {w:.1f} wall {c:.1f} CPU" for l, d, w, c in times))
    summarise(per_tract, counts, letters).to_csv(sys.stdout, sep="\t", index=False)


if __name__ == "__main__":
    main()
