#!/usr/bin/python3
"""Masking benchmark: do the masks of a masker help a protein homology search?

Queries (QUERY.fasta.gz) are searched with `mmseqs easy-search` against real
proteins (DB.fasta.gz) plus each of them reversed. A reversed protein keeps
its composition and its low-complexity stretches but has no homology, so a hit
to it is a false hit. Both queries and targets are masked (lower case) by each
masker, and the search honours the soft masks (--mask-lower-case 1) with
MMseqs2's own masking and composition-bias correction off; a second search
with MMseqs2's defaults checks that the masks lose no true hits there.

For each masker the report gives the decoy hits, the true hits kept (pairs of
real proteins found unmasked at E <= 1e-10 that are still found after
masking), the residues masked and the time taken to mask.

    nice -n 10 /usr/bin/python3 bench/masking/masking_bench.py --talvo build/talvo-proteome

Maskers are given with --masker (repeatable; see --help), for example

    --masker 'q01=classes q=0.01 trim=1'

All temporary files live in one directory that is removed at the end, also
on failure or interruption. Nothing is downloaded.
"""

import argparse
import gzip
import os
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = "/usr/share/doc/mmseqs2/example-data"
DEFAULT_MASKERS = ["none", "tantan", "segmasker", "talvo", "discover"]
TALVO_KINDS = ("talvo", "discover", "classes")
DECOY = "rev_"
TRUE_E = 1e-10
SEARCH_E = 1e-3
SEARCHES = {
    # MMseqs2's protections off: the masks alone stand between the queries
    # and the decoys' biased stretches.
    "off": ["--mask", "0", "--comp-bias-corr", "0"],
    # MMseqs2's defaults (its own masking and composition-bias correction).
    "defaults": [],
}

# The child process running now, ended if the benchmark is interrupted.
_child = None


def fail(message):
    raise SystemExit(f"masking_bench: {message}")


def on_signal(signum, _frame):
    raise SystemExit(f"masking_bench: stopped by signal {signum}")


def run(cmd, stdout=None, consume=None):
    """Run cmd, failing with its standard error if it fails. With consume,
    standard output is a pipe handed to consume(pipe) and its value returned."""
    global _child
    err = tempfile.TemporaryFile()
    _child = subprocess.Popen(cmd, stdout=subprocess.PIPE if consume else stdout, stderr=err)
    try:
        value = consume(_child.stdout) if consume else None
        if consume:
            _child.stdout.close()
        rc = _child.wait()
    except BaseException:
        _child.kill()
        _child.wait()
        raise
    finally:
        _child = None
    if rc != 0:
        err.seek(0)
        fail(f"{shlex.join(cmd)} failed with status {rc}:\n{err.read().decode(errors='replace')}")
    err.close()
    return value


def cpu_seconds():
    """CPU time of the finished child processes (the tools, not this script)."""
    kids = resource.getrusage(resource.RUSAGE_CHILDREN)
    return kids.ru_utime + kids.ru_stime


# ---------------------------------------------------------------- sequences

class SeqSet:
    """The entries of a FASTA file as one array of upper-case residues."""

    def __init__(self, ids, seqs):
        self.ids = ids
        self.lengths = np.array([len(s) for s in seqs], dtype=np.int64)
        self.offsets = np.concatenate(([0], np.cumsum(self.lengths)))
        self.residues = np.frombuffer("".join(seqs).encode("ascii"), dtype=np.uint8)

    def write(self, path, mask=None):
        """Write the entries to path, masked residues in lower case."""
        res = self.residues.copy()
        if mask is not None:
            letters = mask & (res >= ord("A")) & (res <= ord("Z"))
            res[letters] += 32
        text = res.tobytes()
        with open(path, "wb") as out:
            for i, name in enumerate(self.ids):
                out.write(b">" + name.encode() + b"\n")
                out.write(text[self.offsets[i]:self.offsets[i + 1]] + b"\n")


def read_fasta(path):
    """(ids, sequences) of a FASTA file, plain or gzip; the ID is the header's
    first word."""
    opener = gzip.open if open(path, "rb").read(2) == b"\x1f\x8b" else open
    ids, seqs, chunks = [], [], None
    with opener(path, "rt") as f:
        for line in f:
            if line.startswith(">"):
                if chunks is not None:
                    seqs.append("".join(chunks))
                words = line[1:].split()
                ids.append(words[0] if words else "")
                chunks = []
            elif chunks is not None:
                chunks.append(line.strip())
    if chunks is not None:
        seqs.append("".join(chunks))
    return ids, seqs


def mask_of(path, seqset):
    """The lower-case residues of a masked copy of seqset, checked against it."""
    ids, seqs = read_fasta(path)
    text = "".join(seqs)
    if ids != seqset.ids or text.upper().encode("ascii") != seqset.residues.tobytes():
        fail(f"{path} is not a masked copy of its input (entries or residues differ)")
    return np.frombuffer(text.encode("ascii"), dtype=np.uint8) >= ord("a")


# ---------------------------------------------------------------- maskers

class Masker:
    """A masker from its specification: [LABEL=]KIND [ARG...]."""

    def __init__(self, definition):
        label, eq, rest = definition.partition("=")
        if not eq or " " in label:
            label, rest = None, definition
        words = shlex.split(rest)
        if not words or words[0] not in ("none", "tantan", "segmasker", *TALVO_KINDS):
            fail(f"unknown masker '{definition}' (kinds: none, tantan, segmasker, "
                 f"{', '.join(TALVO_KINDS)})")
        self.kind, self.args = words[0], []
        self.q = self.trim = self.min_length = None
        self.classes = os.path.join(HERE, "classes.tsv")
        for word in words[1:]:
            key, eq, value = word.partition("=")
            if eq and self.kind in TALVO_KINDS and key in ("q", "trim", "min", "classes"):
                try:
                    if key == "q":
                        self.q = float(value)
                    elif key == "trim":
                        self.trim = int(value)
                    elif key == "min":
                        self.min_length = int(value)
                    else:
                        self.classes = value
                except ValueError:
                    fail(f"bad value in '{word}' of masker '{definition}'")
            else:
                self.args.append(word)
        self.label = label or definition
        self.tables = self.q is not None or self.trim or self.min_length

    def describe(self, talvo):
        """The command, as a user would run it on FILE."""
        if self.kind == "none":
            return "(no masking)"
        if self.kind == "tantan":
            return shlex.join(["tantan", "-p", *self.args, "FILE"])
        if self.kind == "segmasker":
            return shlex.join(["segmasker", "-in", "FILE", "-outfmt", "fasta", *self.args])
        prog = os.path.basename(talvo)
        if self.kind == "discover" and not self.tables:
            return shlex.join([prog, "--discover", *self.args, "-L", "--masked", "OUT", "FILE"])
        extra = []
        if self.q is not None:
            extra.append(f"BH q <= {self.q:g} over every row of every class")
        else:
            extra.append(f"p < {self.p_threshold():g}")
        if self.trim:
            extra.append(f"segment ends trimmed by {self.trim}" if self.trim > 0
                         else f"segments extended by {-self.trim} at each end")
        if self.min_length:
            extra.append(f"segments of at least {self.min_length} residues (after trimming)")
        out = ["--all", "--output", "TABLE"] if self.tables else ["-L", "--masked", "OUT"]
        if self.kind == "talvo":
            cmd = shlex.join([prog, *self.args, *out, "FILE"])
        elif self.kind == "discover":
            cmd = shlex.join([prog, "--discover", *self.args, *out, "FILE"])
        else:
            cmd = (f"for each class of {os.path.basename(self.classes)}: "
                   + shlex.join([prog, "-A:LETTERS", *self.args, *out, "FILE"])
                   + "; union of the classes' masks")
        return cmd + "; masked: " + ", ".join(extra)

    def p_threshold(self):
        """The tool's own masking threshold, -M (0.05 by default)."""
        value = 0.05
        for a in self.args:
            if a[:3].upper() == "-M:":
                value = float(a[3:])
        return value

    def mask(self, seqset, path, work, opts):
        """Mask the entries of seqset (written at path): a boolean array."""
        if self.kind == "none":
            return np.zeros(len(seqset.residues), dtype=bool)
        out = os.path.join(work, "masked.fa")
        if self.kind == "tantan":
            with open(out, "wb") as f:
                run(["tantan", "-p", *self.args, path], stdout=f)
            return mask_of(out, seqset)
        if self.kind == "segmasker":
            run(["segmasker", "-in", path, "-outfmt", "fasta", *self.args, "-out", out])
            return mask_of(out, seqset)
        return self.talvo_mask(seqset, path, out, opts)

    def talvo_mask(self, seqset, path, out, opts):
        talvo = [opts.talvo, "--threads", str(opts.threads), "--no-progress"]
        if self.kind == "talvo":
            runs = [[*self.args]]
        elif self.kind == "discover":
            # The tool's discovery: every class in one run, its --masked the
            # mask it ships.
            runs = [["--discover", *self.args]]
        else:
            runs = [[f"-A:{letters}", *self.args] for letters in read_classes(self.classes)]
        if not self.tables:
            # The tool's own masks (segments with p below -M), united.
            mask = np.zeros(len(seqset.residues), dtype=bool)
            for args in runs:
                run([*talvo, *args, "-L", "--masked", out, "--output", os.devnull, path])
                mask |= mask_of(out, seqset)
            return mask
        # Masks from the tables of every segment: q-values over every row of
        # every class, then trimming and a minimum length.
        cap = self.q if self.q is not None else self.p_threshold()
        rows, total = [], 0
        for args in runs:
            part, n = run([*talvo, *args, "--all", path], consume=lambda pipe: read_rows(pipe, cap))
            rows.append(part)
            total += n
        rows = pd.concat(rows, ignore_index=True)
        if self.q is not None:
            rows = rows[bh_at_most(rows["p_value"].to_numpy(), total, self.q)]
        else:
            rows = rows[rows["p_value"] < cap]
        entry = rows["entry"].to_numpy(np.int64) - 1
        start = rows["start"].to_numpy(np.int64) - 1
        end = rows["end"].to_numpy(np.int64)
        if self.trim:
            # A negative trim extends the segment, within its protein.
            start = np.maximum(start + self.trim, 0)
            end = np.minimum(end - self.trim, seqset.lengths[entry])
        keep = end - start >= max(self.min_length or 1, 1)
        base = seqset.offsets[entry[keep]]
        return cover(start[keep] + base, end[keep] + base, len(seqset.residues))


def read_classes(path):
    letters = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 2 or not fields[1].isalpha():
                fail(f"{path}:{number}: expected NAME<TAB>LETTERS")
            letters.append(fields[1].upper())
    if not letters:
        fail(f"{path}: no classes")
    return letters


def read_rows(pipe, cap):
    """The rows of a segment table with p at most cap, and the number of rows."""
    kept, total = [], 0
    for chunk in pd.read_csv(pipe, sep="\t", comment="#", quoting=3, chunksize=1 << 20,
                             usecols=["entry", "start", "end", "p_value"]):
        total += len(chunk)
        kept.append(chunk[chunk["p_value"] <= cap])
    if not kept:
        return pd.DataFrame(columns=["entry", "start", "end", "p_value"]), 0
    return pd.concat(kept, ignore_index=True), total


def bh_at_most(p, total, level):
    """Which of the p-values (all those of `total` tests that can reach
    `level`) have a Benjamini-Hochberg q-value at most level."""
    if len(p) == 0:
        return np.zeros(0, dtype=bool)
    order = np.argsort(p, kind="stable")
    q = p[order] * total / np.arange(1, len(p) + 1)
    q = np.minimum.accumulate(q[::-1])[::-1]
    keep = np.zeros(len(p), dtype=bool)
    keep[order] = q <= level
    return keep


def cover(starts, ends, n):
    """A boolean array of length n, true on every [start, end)."""
    delta = np.zeros(n + 1, dtype=np.int64)
    np.add.at(delta, starts, 1)
    np.add.at(delta, ends, -1)
    return np.cumsum(delta[:-1]) > 0


# ---------------------------------------------------------------- search

def search(queries, targets, mode, work, threads):
    """Hits of one search: {(query, target): E-value}, its wall and CPU time."""
    out = os.path.join(work, "hits.m8")
    tmp = os.path.join(work, "mmseqs-tmp")
    wall, cpu = time.perf_counter(), cpu_seconds()
    run(["mmseqs", "easy-search", queries, targets, out, tmp, *SEARCHES[mode],
         "--mask-lower-case", "1", "-e", str(SEARCH_E), "--threads", str(threads), "-v", "1"],
        stdout=subprocess.DEVNULL)
    wall, cpu = time.perf_counter() - wall, cpu_seconds() - cpu
    hits = {}
    with open(out) as f:
        for line in f:
            fields = line.split("\t")
            pair, e = (fields[0], fields[1]), float(fields[10])
            if e <= SEARCH_E and e < hits.get(pair, np.inf):
                hits[pair] = e
    os.remove(out)
    shutil.rmtree(tmp, ignore_errors=True)
    return hits, wall, cpu


# ---------------------------------------------------------------- main

def prepare(opts, work):
    """The query and target sets (targets followed by their decoys), written
    to work; the number of entries dropped for having no residues."""
    dropped = 0
    sets = []
    for name, limit in (("QUERY.fasta.gz", opts.queries), ("DB.fasta.gz", opts.targets)):
        ids, seqs = read_fasta(os.path.join(opts.data, name))
        keep = [i for i, s in enumerate(seqs) if s]
        dropped += len(seqs) - len(keep)
        keep = keep[:limit] if limit else keep
        sets.append(([ids[i] for i in keep], [seqs[i].upper() for i in keep]))
    (qids, qseqs), (tids, tseqs) = sets
    if any(t.startswith(DECOY) for t in tids):
        fail(f"a target's ID starts with the decoy prefix '{DECOY}'")
    queries = SeqSet(qids, qseqs)
    targets = SeqSet(tids + [DECOY + t for t in tids], tseqs + [s[::-1] for s in tseqs])
    queries.path, targets.path = os.path.join(work, "queries.fa"), os.path.join(work, "targets.fa")
    queries.write(queries.path)
    targets.write(targets.path)
    return queries, targets, dropped


def percent(a, b):
    return f"{100.0 * a / b:.1f}%" if b else "n/a"


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="""maskers (--masker [LABEL=]KIND [ARG...], repeatable; default: %s):
  none                 no masking
  tantan [ARG...]      tantan -p ARG...
  segmasker [ARG...]   segmasker -outfmt fasta ARG... (lower case)
  talvo [ARG...]       talvo-proteome ARG... -L --masked (GPSTDNH unless -A is given)
  discover [ARG...]    talvo-proteome --discover ARG... -L --masked: the mask of
                       every class that the tool ships
  classes [ARG...]     the union of the masks of every class of a class file: one
                       talvo-proteome -A:LETTERS ARG... run per class
ARG of talvo, discover and classes is a talvo-proteome option (-E:2, -K, -W:15,
-M:0.01, --mask-linkage=9, ...) or one of the following, which take the masks
from the rows of --all tables (with discover, of one --discover ARG... --all
run: give -E:8 for the mask's linkage distance):
  q=LEVEL              mask the segments whose Benjamini-Hochberg q-value over
                       every segment of every class is at most LEVEL (instead of
                       p below -M)
  trim=N               trim N residues off each end of every masked segment
                       (a negative N extends it)
  min=N                mask only segments of at least N residues (after trimming)
  classes=FILE         of classes: the class file, NAME<TAB>LETTERS per line
                       (default: classes.tsv beside this script); discover takes
                       --classes=FILE""" % ", ".join(DEFAULT_MASKERS))
    parser.add_argument("--talvo", default=os.environ.get("TALVO_PROTEOME", "build/talvo-proteome"),
                        help="the talvo-proteome program (default: build/talvo-proteome)")
    parser.add_argument("--masker", action="append", help="a masker (see below)")
    parser.add_argument("--data", default=DEFAULT_DATA, help="directory of QUERY.fasta.gz and DB.fasta.gz")
    parser.add_argument("--queries", type=int, default=0, help="only the first N queries")
    parser.add_argument("--targets", type=int, default=0, help="only the first N targets")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--no-defaults-search", action="store_true",
                        help="skip the search with MMseqs2's defaults")
    parser.add_argument("--output", help="also write the report to this file")
    parser.add_argument("--hits", metavar="DIR",
                        help="write each search's hits to DIR/N.MODE.tsv (N the masker's number)")
    opts = parser.parse_args()

    maskers = [Masker(definition) for definition in (opts.masker or DEFAULT_MASKERS)]
    if maskers[0].kind != "none" or maskers[0].args:
        maskers.insert(0, Masker("none"))
    needs = {"mmseqs"} | {m.kind for m in maskers if m.kind in ("tantan", "segmasker")}
    for tool in sorted(needs):
        if not shutil.which(tool):
            fail(f"{tool} not found")
    if any(m.kind in TALVO_KINDS for m in maskers) and not os.access(opts.talvo, os.X_OK):
        fail(f"{opts.talvo} is not an executable talvo-proteome (see --talvo)")
    modes = ["off"] if opts.no_defaults_search else ["off", "defaults"]

    for s in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(s, on_signal)
    work = tempfile.mkdtemp(prefix="talvo-masking-")
    try:
        report = benchmark(opts, maskers, modes, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(report, end="")
    if opts.output:
        with open(opts.output, "w") as f:
            f.write(report)


def benchmark(opts, maskers, modes, work):
    queries, targets, dropped = prepare(opts, work)
    ntargets = len(targets.ids) // 2
    results = []
    reference = {}
    for m in maskers:
        sys.stderr.write(f"masking_bench: {m.label}\n")
        wall, cpu = time.perf_counter(), cpu_seconds()
        masks = [m.mask(s, s.path, work, opts) for s in (queries, targets)]
        wall, cpu = time.perf_counter() - wall, cpu_seconds() - cpu
        masked = sum(int(x.sum()) for x in masks) / sum(len(x) for x in masks)
        paths = []
        for s, x, name in ((queries, masks[0], "q"), (targets, masks[1], "t")):
            paths.append(os.path.join(work, f"masked-{name}.fa"))
            s.write(paths[-1], x)
        row = {"masker": m, "masked": masked, "wall": wall, "cpu": cpu}
        for mode in modes:
            hits, swall, scpu = search(*paths, mode, work, opts.threads)
            if m.kind == "none" and not m.args:
                reference[mode] = {
                    "true": {p for p, e in hits.items() if not p[1].startswith(DECOY) and e <= TRUE_E},
                    "wall": swall, "cpu": scpu}
            if opts.hits:
                with open(os.path.join(opts.hits, f"{len(results)}.{mode}.tsv"), "w") as f:
                    f.write(f"# {m.label}\n")
                    f.writelines(f"{q}\t{t}\t{e:g}\n" for (q, t), e in sorted(hits.items()))
            true = reference[mode]["true"]
            row[mode] = {"decoys": sum(1 for p in hits if p[1].startswith(DECOY)),
                         "kept": sum(1 for p in true if p in hits), "true": len(true)}
        for p in paths:
            os.remove(p)
        results.append(row)

    lines = [
        "# Masking benchmark",
        "",
        f"{len(queries.ids)} queries ({len(queries.residues):,} residues) against {ntargets} targets "
        f"and their {ntargets} reversed decoys ({len(targets.residues):,} residues)"
        f"; {dropped} entries without residues dropped. Queries and targets masked alike.",
        f"Search: `mmseqs easy-search` with `--mask-lower-case 1 -e {SEARCH_E:g} --threads {opts.threads}`.",
        f"True hits: pairs of real proteins found unmasked at E <= {TRUE_E:g}; kept: still found masked.",
        f"Times are the CPU seconds (user + system) of the masking programs on both sets "
        f"(not this script's own reading and union of masks), "
        f"as a ratio to the unmasked search with protections off "
        f"({reference['off']['cpu']:.1f} s CPU, {reference['off']['wall']:.1f} s wall).",
        "",
    ]
    for mode in modes:
        title = ("MMseqs2's protections off (`--mask 0 --comp-bias-corr 0`)" if mode == "off"
                 else "MMseqs2's defaults (its masking and composition-bias correction on)")
        lines += [f"## {title}", ""]
        if mode == "off":
            lines += ["| Masker | Decoy hits | True hits kept | Masked | Masking time |",
                      "|---|---|---|---|---|"]
        else:
            lines += ["| Masker | Decoy hits | True hits kept |", "|---|---|---|"]
        for r in results:
            s = r[mode]
            kept = f"{s['kept']}/{s['true']} ({percent(s['kept'], s['true'])})"
            cells = [r["masker"].label, str(s["decoys"]), kept]
            if mode == "off":
                t = "" if r["masker"].kind == "none" else \
                    f"{r['cpu']:.2f} s ({r['cpu'] / reference['off']['cpu']:.3f}×)"
                cells += [f"{100 * r['masked']:.1f}%", t]
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")
    lines += ["## Maskers", ""]
    for r in results:
        lines.append(f"- {r['masker'].label}: {r['masker'].describe(opts.talvo)}")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
