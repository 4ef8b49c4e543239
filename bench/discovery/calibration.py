#!/usr/bin/python3
"""Calibration of discovery: proteomes drawn from the background composition
(every residue independently from the SPROT table the tool uses, lengths
resampled from a real proteome), discovery over a class set with each of
several analysis settings, and the fraction of replicates with any q <= 0.05
with its exact (Clopper-Pearson) 95% interval.

Every replicate is one proteome from its own seed (--seed + replicate
number), analysed with every setting, so the settings are compared on the same
proteomes. Nothing in such a proteome is biased: any row at q <= 0.05 is a
false discovery, and a run reports one in at most 5% of replicates when its
null holds.

Settings are LABEL=OPTIONS (options separated by spaces; {seed} is the
replicate's seed); the defaults are the default scan p-values, -G --exact-null,
-S --exact-null and -S:100 (100 shuffles of each protein). The engine is
talvo-proteome --discover with its built-in class set, and its q-values
(--engine loop: the loop of per-class runs). Example, as in docs/discovery.md:

    nice -n 10 /usr/bin/python3 bench/discovery/calibration.py --replicates 40 \\
        --proteins 20000 --out calibration.tsv

--keep-failures DIR keeps the rows at q <= 0.05 of every replicate that has
any. Temporary proteomes go to a directory under $TMPDIR, removed at the end.
"""

import argparse
import os
import shutil
import signal
import sys
import tempfile
import time

import numpy as np
import pandas as pd

import discovery

# "bh": the tool's q-values over every row of every class; "two-level":
# discovery.two_level (an alternative weighed while choosing, --methods).
METHODS = ["bh"]

DEFAULT_SETTINGS = [
    "scan=",
    "G-exact=-G:1 --exact-null",
    "S-exact=-S:1 --exact-null",
    "S100=-S:100 --seed {seed}",
]


def real_lengths(path):
    return np.array([len(s) for _, s in discovery.read_fasta(path)])


def null_proteome(lengths, proteins, seed, path):
    """proteins sequences, lengths resampled, residues iid from SPROT."""
    rng = np.random.default_rng(seed)
    chosen = rng.choice(lengths, size=proteins, replace=True)
    letters = np.frombuffer(discovery.RESIDUES.encode(), dtype=np.uint8)
    p = discovery.SPROT / discovery.SPROT.sum()
    residues = letters[rng.choice(20, size=int(chosen.sum()), p=p)].tobytes().decode()
    entries, at = [], 0
    for i, n in enumerate(chosen):
        entries.append((f"null{seed}_{i + 1} replicate {seed}", residues[at:at + n]))
        at += n
    discovery.write_fasta(entries, path)
    return int(chosen.sum())


def parse_setting(text):
    label, _, options = text.partition("=")
    return label, options.split()


def summarise(results, settings):
    lines = []
    for label, _ in settings:
        r = results[results["setting"] == label]
        n, k = len(r), int((r["discoveries"] > 0).sum())
        lo, hi = discovery.clopper_pearson(k, n)
        lines.append({"setting": label, "replicates": n, "with_discovery": k,
                      "rate": round(k / n, 4) if n else np.nan, "ci_low": round(lo, 4),
                      "ci_high": round(hi, 4), "false_rows": int(r["discoveries"].sum()),
                      "median_min_q": float(r["min_q"].median()),
                      "rows_p05_per_replicate": int(r["rows_p05"].mean()),
                      "wall_s_per_replicate": round(r["wall_s"].mean(), 1),
                      "cpu_s_per_replicate": round(r["cpu_s"].mean(), 1)})
    return pd.DataFrame(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--replicates", type=int, default=40)
    parser.add_argument("--proteins", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=1000, help="replicate r uses seed + r")
    parser.add_argument("--setting", action="append", help="LABEL=OPTIONS (repeat)")
    parser.add_argument("--classes", help="a class file (default: the tool's built-in set)")
    parser.add_argument("--lengths-from", default=discovery.REAL_PROTEOME)
    parser.add_argument("--talvo", default=discovery.DEFAULT_TALVO)
    parser.add_argument("--engine", choices=["auto", "loop", "discover"], default="discover")
    parser.add_argument("--methods", default=",".join(METHODS), help="bh and/or two-level")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--out", help="per-replicate results (TSV)")
    parser.add_argument("--keep-failures", help="directory for the rows at q <= 0.05")
    args = parser.parse_args()
    METHODS[:] = args.methods.split(",")

    settings = [parse_setting(s) for s in (args.setting or DEFAULT_SETTINGS)]
    labels = [(l if m == "bh" else f"{l}/{m}", o) for l, o in settings for m in METHODS]
    classes = (discovery.read_classes(args.classes) if args.classes
               else discovery.built_in_classes(args.talvo))
    lengths = real_lengths(args.lengths_from)
    # A terminated run still removes its temporary files.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    scratch = tempfile.mkdtemp(prefix="talvo-calibration.")
    records = []
    started = time.monotonic()
    try:
        for r in range(args.replicates):
            seed = args.seed + r
            fasta = os.path.join(scratch, "null.fa")
            residues = null_proteome(lengths, args.proteins, seed, fasta)
            for label, options in settings:
                opts = [o.replace("{seed}", str(seed)) for o in options]
                res = discovery.run_discovery(fasta, classes, opts, args.talvo, args.engine,
                                              args.jobs, scratch=scratch)
                for method in METHODS:
                    sig = res.significant(method=method)
                    name = label if method == "bh" else f"{label}/{method}"
                    records.append({"replicate": r, "seed": seed, "setting": name,
                                    "residues": residues, "rows_p05": len(res.rows), "discoveries": len(sig),
                                    "proteins_with_discovery": sig["entry"].nunique(),
                                    "min_q": float(res.rows["q"].min()) if len(res.rows) else 1.0,
                                    "wall_s": round(res.wall, 2), "cpu_s": round(res.cpu, 2),
                                    "engine": res.engine, "tool_q_error": res.tool_q_error})
                    if len(sig) and args.keep_failures:
                        os.makedirs(args.keep_failures, exist_ok=True)
                        sig.to_csv(os.path.join(args.keep_failures, f"{name.replace('/', '_')}.{seed}.tsv"),
                                   sep="\t",
                                   index=False)
                    print(f"replicate {r} (seed {seed}) {name}: {len(sig)} at q <= 0.05 "
                          f"(min q {records[-1]['min_q']:.3g}), {len(res.rows)} rows at p <= 0.05, "
                          f"{res.wall:.1f} s",
                          file=sys.stderr, flush=True)
            os.remove(fasta)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    results = pd.DataFrame(records)
    if args.out:
        results.to_csv(args.out, sep="\t", index=False)
    summary = summarise(results, labels)
    print(f"# {args.replicates} replicates of {args.proteins} proteins, classes {args.classes or 'built-in'} "
          f"({len(classes)}), engine {results['engine'].iloc[0]}, "
          f"{time.monotonic() - started:.0f} s in all")
    summary.to_csv(sys.stdout, sep="\t", index=False)


if __name__ == "__main__":
    main()
