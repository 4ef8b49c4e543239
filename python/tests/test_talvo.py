# The Python package against the talvo-proteome program: the same segments,
# p-values, q-values and overall tests, bit for bit, for the same options.
import gzip
import io
import math
import os
import pickle
import inspect
import platform
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

import pytest

import talvo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROTEOME = os.environ.get("TALVO_PROTEOME", os.path.join(ROOT, "build", "talvo-proteome"))
EXAMPLES = os.path.join(ROOT, "examples")

# (talvo-proteome options, the same as keywords)
CASES = [
    ([], {}),
    (["-A:R", "-I", "-M:0.5"], dict(alphabet="R", background="input", mask_p=0.5)),
    (["-W:12", "-P:0.2", "--fractional-windows"],
     dict(window=12, min_p=0.2, fractional_windows=True)),
    (["-A:ST", "-X", "-K"], dict(alphabet="ST", background="pdb", estimate_linkage=True)),
    (["-S:40", "-E:2", "--seed", "7"], dict(shuffles=40, linkage=2, seed=7)),
    (["-G:30", "--seed", "18446744073709551615"], dict(generated=30, seed=2**64 - 1)),
    (["-S:25", "-A:PST", "--exact-null"], dict(shuffles=25, alphabet="PST", exact_null=True)),
]


@pytest.fixture(scope="module")
def workdir():
    path = tempfile.mkdtemp(prefix="talvo-py-")
    yield path
    shutil.rmtree(path)


@pytest.fixture(scope="module")
def proteome(workdir):
    """A random multi-entry gzip FASTA file, with edge cases among the entries."""
    rng = random.Random(15)
    entries = ["", "ACDEFGHIKLMNPQRSTVWY" * 3, "GPST", "x-g*p 1s", "RRRRRRRRRRRRRRRRRRR"]
    for _ in range(25):
        length = rng.choice([5, 30, 200, 1500])
        bias = rng.choice("GPSTDNHRQ")
        entries.append("".join(bias if rng.random() < 0.3 else rng.choice("ACDEFGHIKLMNPQRSTVWYacdgp")
                               for _ in range(length)))
    path = os.path.join(workdir, "random.fa.gz")
    with gzip.open(path, "wt") as out:
        for number, residues in enumerate(entries):
            header = "" if number == 3 else f"p{number} random protein"
            out.write(f">{header}\n" + "\n".join(residues[i:i + 60] for i in range(0, len(residues), 60)) + "\n")
    return path


def run_proteome(workdir, args, inputs):
    summary = os.path.join(workdir, "summary.tsv")
    done = subprocess.run([PROTEOME, "--threads", "2", "--summary", summary, *args, *inputs],
                          check=True, capture_output=True)
    with open(summary, "rb") as text:
        return done.stdout, talvo.read_table(text.read())


@pytest.mark.parametrize("args,options", CASES)
def test_same_numbers_as_talvo_proteome(workdir, proteome, args, options):
    globins = os.path.join(EXAMPLES, "globins45.fa")
    inputs = [proteome, os.path.join(EXAMPLES, "two_proteins.fa"), globins]
    tsv, summary = run_proteome(workdir, ["--all", *args], inputs)
    table = talvo.proteome_table(inputs, threads=2, all=True, **options)
    expected = talvo.read_table(tsv)
    assert len(expected) > 20
    assert table.equals(expected) and list(table.columns) == list(expected.columns)
    assert talvo.proteome_table(inputs, threads=1, **options).equals(
        talvo.read_table(run_proteome(workdir, args, inputs)[0]))
    assert talvo.summary_table(inputs, threads=2, **options).equals(summary)

    rows = summary[summary.input == inputs[0]].itertuples()
    analyser = talvo.Analyser(**options)
    for (number, id_, result), row in zip(talvo.analyse_file(inputs[0], threads=2, **options), rows,
                                          strict=True):
        assert (row.entry, row.id, row.length, row.skipped) == (number, id_, result.length, result.skip or "")
        if result.skip is not None:
            assert result.overall is None
            continue
        overall = result.overall
        assert (overall.special, overall.expected, overall.direction, overall.exact_tail) == (
            row.special, row.expected, row.direction, row.exact_tail)
        segments = expected[(expected.input == inputs[0]) & (expected.entry == number)]
        assert [(s.start, s.end, s.length, s.special, s.p_value, s.residues) for s in result.segments] == [
            (r.start, r.end, r.seg_length, r.special, r.p_value, r.residues) for r in segments.itertuples()]
        again = analyser.analyse(result.sequence, entry_number=number)
        assert [s.p_value for s in again.segments] == [s.p_value for s in result.segments]


def test_sequence_types_and_masking():
    Seq = pytest.importorskip("Bio.Seq").Seq
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    text = "mkRRRRRRRRRRRRgs*"
    results = [talvo.analyse(s, alphabet="R") for s in
               (text, text.encode(), bytearray(text.encode()), Seq(text), SeqRecord(Seq(text), id="x"))]
    assert {repr(r.segments) for r in results} == {repr(results[0].segments)}
    result = results[0]
    assert result.sequence == "MKRRRRRRRRRRRRGS" and result.length == 16
    assert result.masked() == "MKXXXXXXXXXXXXGS" and result.masked(lower=True) == "MKrrrrrrrrrrrrGS"
    (segment,) = result.segments
    assert segment.p_value == talvo.scan_pvalue(12, 12, 16, result.special_probability)
    assert result.overall.exact_tail == talvo.binomial_tail(12, 16, result.special_probability)
    assert talvo.scan_pvalue(12, 12, 12, 0.3, fractional=True) == talvo.binomial_tail(12, 12, 0.3)
    with pytest.raises(TypeError):
        talvo.analyse(42)


def test_seed_from_the_clock_repeats():
    first = talvo.analyse("GPSTAAGGGGSSSPAKLVA" * 20, shuffles=20)
    again = talvo.analyse(first.sequence, shuffles=20, seed=first.seed)
    assert [s.p_value for s in again.segments] == [s.p_value for s in first.segments]


@pytest.mark.parametrize("options,message", [
    (dict(window=30), "window=30 is longer than the sequence (20 residues)"),
    (dict(min_p=math.nan), "min_p=nan: must be a number from 0 to 1"),
    (dict(mask_p=2), "mask_p=2: must be a number from 0 to 1"),
    (dict(background="uniform"), "background='uniform': must be 'sprot'"),
    (dict(window=20, shuffles=100), "window=20 and shuffles=100 exclude each other"),
    (dict(alphabet=["R", "B"]), "alphabet=['R', 'B']: must be one or more of the 20 residue"),
    (dict(alphabet=["RK"]), "alphabet=['RK']: must be one-letter strings"),
    (dict(shuffles=5, generated=5), "shuffles=5 and generated=5: give one of them"),
    (dict(seed=-1), "seed=-1: must be a whole number from 0 to 2**64-1"),
    (dict(exact_null=True), "exact_null=True needs shuffles or generated"),
    (dict(window=1), "window=1: must be 0 (runs mode) or a whole number of at least 2"),
    (dict(linkage=2.5), "linkage=2.5: must be a whole number"),
    (dict(estimate_linkage="yes"), "estimate_linkage='yes': must be True or False"),
    (dict(entry_number=-1), "entry_number=-1: must be a whole number"),
])
def test_bad_options_name_the_argument(options, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        talvo.analyse("ACDEFGHIKLMNPQRSTVWY", **options)


def test_options_in_signatures_and_letter_lists():
    with pytest.raises(TypeError, match="unknown option 'windw'; did you mean 'window'"):
        talvo.Analyser(windw=3)
    assert "mask_p" in str(inspect.signature(talvo.summary_table)) and "mask_p" in talvo.__doc__
    results = [talvo.analyse("MKRRKRAKKGS" * 5, alphabet=letters) for letters in ("rk", ["R", "K"], {"K", "R"})]
    assert {r.segments for r in results} == {results[0].segments}


def test_bad_input(workdir):
    with pytest.raises(ValueError, match="no residues"):
        talvo.analyse("123 *")
    with pytest.raises(FileNotFoundError):
        talvo.analyse_file(os.path.join(workdir, "missing.fa"))
    with pytest.raises(ValueError, match="threads=0: must be"):
        talvo.proteome_table(os.path.join(EXAMPLES, "HBB_HUMAN.fa"), threads=0)
    for args in ((3, 5, 10, 1.5), (5, 20, 10, 0.3)):
        with pytest.raises(ValueError):
            talvo.scan_pvalue(*args)
    cut = os.path.join(workdir, "cut.fa.gz")
    with open(cut, "wb") as out:
        out.write(gzip.compress(b">a\nGGGG\n" * 5000)[:-40])
    with pytest.raises(OSError, match="gzip"):
        list(talvo.analyse_file(cut, threads=2))
    with talvo.analyse_file(os.path.join(EXAMPLES, "globins45.fa"), threads=2, window=300) as entries:
        number, _, result = next(entries)
        assert (number, result.skip) == (1, "shorter than the window")


def test_missing_pandas_says_what_to_install():
    code = "import sys; sys.modules['pandas'] = None; import talvo; talvo.proteome_table('x')"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert "ImportError: talvo's tables need pandas: apt-get install python3-pandas" in done.stderr


def test_fasta_text_refused_and_input_warnings(workdir):
    with pytest.raises(ValueError, match="analyse_file"):
        talvo.analyse(" \n>x\nMSTRRRRRRRRRRGSAPKL", alphabet="R")
    dna = os.path.join(workdir, "dna.fa")
    with open(dna, "w") as out:
        out.write(">d1\n" + "ACGT" * 50 + "\n>d2\n" + "GATTACA" * 20 + "\n")
    with pytest.warns(talvo.NucleotideWarning, match="dna.fa: looks like nucleotides"):
        assert [number for number, _, _ in talvo.analyse_file(dna)] == [1, 2]
    with pytest.warns(talvo.NucleotideWarning):
        talvo.proteome_table(dna)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        talvo.proteome_table(os.path.join(EXAMPLES, "globins45.fa"))
    with pytest.warns(talvo.InputWarning) as caught:  # the reader's other warnings
        talvo._warn("x.fa: entry 2, line 3: '>' inside a sequence line")
    assert caught[0].category is talvo.InputWarning and issubclass(talvo.InputWarning, UserWarning)


@pytest.mark.parametrize("how", [signal.SIGINT, signal.SIGKILL, "error"])
def test_proteome_table_leaves_no_file(workdir, how):
    """Ctrl-C, SIGKILL or an error in the middle of a run: nothing stays in $TMPDIR."""
    tmp = tempfile.mkdtemp(dir=workdir)
    code = "import pandas, talvo; print('go', flush=True); talvo.proteome_table('-')"
    with subprocess.Popen([sys.executable, "-c", code], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env={**os.environ, "TMPDIR": tmp}) as child:
        try:
            child.stdin.write(b">p\n" + b"ACDEFGHIKLMNPQRSTVWY" * 5000 + b"\n")
            child.stdin.flush()
            assert child.stdout.readline() == b"go\n"
            time.sleep(0.5)  # the run is under way, waiting for more input
            if how == "error":
                child.stdin.write(b"\0")
            else:
                child.send_signal(how)
            child.stdin.close()
            child.wait(timeout=120)
        finally:
            child.kill()
        errors = child.stderr.read()
    expected = {signal.SIGINT: b"KeyboardInterrupt", signal.SIGKILL: b"", "error": b"OSError: -: binary"}
    assert expected[how] in errors
    assert os.listdir(tmp) == []


def entries_of(source, **options):
    return [(number, id_, result.__getstate__())
            for number, id_, result in talvo.analyse_file(source, threads=2, **options)]


# Each input kind made from the gzip FASTA path; named kinds keep the path as their input.
INPUT_KINDS = {
    "gzip text file": (True, lambda path, stack: stack.enter_context(gzip.open(path, "rt"))),
    "binary gzip file": (True, lambda path, stack: stack.enter_context(open(path, "rb"))),
    "unnamed plain bytes": (False, lambda path, stack: io.BytesIO(gzip.decompress(open(path, "rb").read()))),
    "SeqRecords": (False, lambda path, stack: pytest.importorskip("Bio.SeqIO").parse(
        stack.enter_context(gzip.open(path, "rt")), "fasta")),
    "(header, sequence) pairs": (False, lambda path, stack: list(pytest.importorskip(
        "Bio.SeqIO.FastaIO").SimpleFastaParser(stack.enter_context(gzip.open(path, "rt"))))),
}


@pytest.fixture(scope="module")
def path_results(workdir, proteome):
    """The path's table, summary and entries, descriptions included: talvo-proteome's."""
    options = dict(shuffles=20, seed=3)
    tsv, summary = run_proteome(workdir, ["--all", "--description", "-S:20", "--seed", "3"], [proteome])
    table = talvo.proteome_table(proteome, all=True, description=True, **options)
    assert table.equals(talvo.read_table(tsv)) and (table.description == "random protein").any()
    assert talvo.summary_table(proteome, description=True, **options).equals(summary)
    return table, summary, entries_of(proteome, **options), options


@pytest.mark.parametrize("kind", INPUT_KINDS)
def test_every_input_kind_equals_the_path(proteome, path_results, kind):
    import contextlib
    table, summary, entries, options = path_results
    named, make = INPUT_KINDS[kind]
    with contextlib.ExitStack() as stack:
        got = talvo.proteome_table(make(proteome, stack), all=True, description=True, **options)
        got_summary = talvo.summary_table(make(proteome, stack), description=True, **options)
        assert entries_of(make(proteome, stack), **options) == entries
    for expected, tested in ((table, got), (summary, got_summary)):
        assert set(tested.input) == {proteome if named else "<input 1>"}
        assert tested.drop(columns="input").equals(expected.drop(columns="input"))


@pytest.mark.parametrize("records", [
    [("a", "")],  # skipped only: no rows
    [("a", "L" * 50 + "G" + "L" * 50)],  # p- and q-values all 1, written "1"
    [("a", "GPSTGPST"), ("b", "12"), ("c", "MKLA")],
])
def test_small_tables_equal_talvo_proteome(records):
    """Tables built from the rows equal talvo-proteome's read back, types included."""
    fasta = "".join(f">{header}\n{sequence}\n" for header, sequence in records).encode()
    tool = [talvo.read_table(subprocess.run([PROTEOME, *args, "-"], input=fasta, check=True,
                                            capture_output=True).stdout)
            for args in (["--all"], ["--summary", "/dev/stdout", "--output", "/dev/null"])]
    for table, expected in zip((talvo.proteome_table(records, all=True),
                                talvo.summary_table(records)), tool):
        assert dict(table.dtypes) == dict(expected.dtypes)
        assert table.drop(columns="input").equals(expected.drop(columns="input"))


def test_bad_records_name_their_input():
    def failing():
        yield ">a", "MKRRRR"
        raise RuntimeError("the source failed")
    with pytest.raises(RuntimeError, match="the source failed"):
        list(talvo.analyse_file(failing()))
    with pytest.raises(TypeError, match="<input 1>, record 2: expected a SeqRecord or a .header, sequence. pair, not int"):
        talvo.summary_table([("a", "MKRR"), 5])
    with pytest.raises(ValueError, match="<input 2>, record 1: the header 'a\\\\nb' has a line break"):
        talvo.proteome_table([os.path.join(EXAMPLES, "HBB_HUMAN.fa"), [("a\nb", "MKRR")]])
    with pytest.warns(talvo.NucleotideWarning, match="<input 1>: looks like nucleotides"):
        talvo.proteome_table([("d", "ACGT" * 50)])


def test_results_pickle_and_show_as_tables(proteome):
    pandas = pytest.importorskip("pandas")
    results = [result for _, _, result in talvo.analyse_file(proteome, shuffles=10)]
    fields = lambda r: (r.length, r.segments, r.overall, r.skip, r.sequence, r.seed, r.entry_number,
                        r.special_probability, r.linkage, r.mask_p, r.masked(lower=True))
    assert [fields(r) for r in pickle.loads(pickle.dumps(results))] == [fields(r) for r in results]
    skipped = next(r for r in results if r.skip)
    assert "skipped: no residues" in skipped._repr_html_() and skipped.to_frame().empty
    assert dict(skipped.to_frame().dtypes.astype(str)) == dict(
        start="int64", end="int64", length="int64", special="int64", p_value="float64", residues="object")
    result = max(results, key=lambda r: len(r.segments))
    frame = result.to_frame()
    assert frame.index.tolist() == list(range(1, len(result.segments) + 1))
    assert frame.equals(pandas.DataFrame(result.segments, index=frame.index))
    assert frame.p_value.tolist() == [s.p_value for s in result.segments]
    assert len(result.segments) > 50 and result._repr_html_().count("<tr>") == 1 + 50


def test_module_for_another_python_names_both(workdir):
    package = shutil.copytree(os.path.dirname(talvo.__file__), os.path.join(workdir, "other", "talvo"),
                              ignore=shutil.ignore_patterns("__pycache__"))
    (module,) = [name for name in os.listdir(package) if name.startswith("_talvo.") and name.endswith(".so")]
    os.rename(os.path.join(package, module), os.path.join(package, "_talvo.cpython-39-x86_64-linux-gnu.so"))
    done = subprocess.run([sys.executable, "-c", "import talvo"], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": os.path.dirname(package)}, cwd=workdir)
    assert f"built for Python 3.9 (_talvo.cpython-39" in done.stderr
    assert f"this is Python {platform.python_version()}" in done.stderr and "circular" not in done.stderr


def test_progress_bar(capsys):
    pytest.importorskip("tqdm")
    globins = os.path.join(EXAMPLES, "globins45.fa")
    assert len(list(talvo.analyse_file(globins, progress=True))) == 45
    assert len(talvo.summary_table(globins, progress=True)) == 45
    bars = capsys.readouterr().err.split("\n")[:-1]  # each bar's last state: all 45, with or without the total
    assert len(bars) == 2 and all(re.search(r"\b45(/45| entries) \[", bar.split("\r")[-1]) for bar in bars)
    with pytest.raises(ValueError, match="progress='yes': must be True, False or None"):
        talvo.summary_table(globins, progress="yes")
