"""TALVO: compositionally biased segments of proteins.

Finds stretches of a protein in which residues of a chosen sub-alphabet (the
*special* residues, GPSTDNH by default) are more frequent than a background
composition predicts, gives each a p-value, and tests the whole protein's
composition. The numbers are those of the ``talvo-proteome`` program, bit for
bit, for the same input and options.

    >>> import talvo
    >>> result = talvo.analyse("MRRRRRRRRRRSTGA", alphabet="R")
    >>> [(s.start, s.end, s.p_value) for s in result.segments]

Every function that analyses takes the options below as keywords (with
TALVO's option for each); a bad value raises ValueError naming the keyword
and its value. Where talvo-proteome warns about an input (one that looks
like nucleotides, say), ``analyse_file``, ``proteome_table`` and
``summary_table`` warn through ``warnings``: a ``NucleotideWarning`` or
another ``InputWarning``. Long runs show a progress bar (``progress``).

Options:
"""

from __future__ import annotations

import csv
import io
import os
import platform
import re
import sys
import warnings
from importlib.machinery import EXTENSION_SUFFIXES
from typing import TYPE_CHECKING, Any, Dict, Iterable, Iterator, Optional, Tuple, Union


def _build_problem(directory: str) -> Optional[str]:
    """Why this Python finds no compiled module in the package; None when
    one for it is there (and failed to load for reasons of its own)."""
    built = sorted(name for name in os.listdir(directory)
                   if name.startswith("_talvo.") and name.endswith((".so", ".pyd")))
    if any(name[len("_talvo"):] in EXTENSION_SUFFIXES for name in built):
        return None
    this = f"Python {platform.python_version()} ({sys.executable})"
    if not built:
        return (f"talvo's compiled module _talvo is missing from {directory}: build it for "
                f"{this} (docs/python.md: pip install . or cmake)")
    tags = [re.search(r"\.cpython-(\d)(\d+)", name) for name in built]
    versions = ", ".join(f"Python {tag[1]}.{tag[2]}" if tag else name
                         for tag, name in zip(tags, built))
    return (f"talvo's compiled module was built for {versions} ({', '.join(built)}), and "
            f"this is {this}: run it with the Python it was built for, or build it for this "
            f"one (pip install . with it, or cmake -DPython3_EXECUTABLE={sys.executable})")


try:
    from . import _talvo
except ImportError:
    # Python reports a module built for another version as a circular import.
    _problem = _build_problem(os.path.dirname(os.path.abspath(__file__)))
    if _problem is None:
        raise
    raise ImportError(_problem) from None

from . import _discover, _inputs, _options, _progress, _records
from ._discover import Discovered, discover, list_classes
from ._plot import analyse_entry, plot
from ._records import Overall, Segment
from ._talvo import Result

if TYPE_CHECKING:
    import pandas

__all__ = [
    "Analyser",
    "Discovered",
    "InputWarning",
    "NucleotideWarning",
    "Overall",
    "Result",
    "Segment",
    "analyse",
    "analyse_entry",
    "analyse_file",
    "binomial_tail",
    "discover",
    "list_classes",
    "plot",
    "proteome_table",
    "read_table",
    "scan_pvalue",
    "summary_table",
    "write_masked",
]
__version__: str = _talvo.__version__
if __doc__:
    __doc__ += _options.describe() + "\n"

Result.to_frame = _records.result_frame
Result._repr_html_ = _records.result_html

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# A path, an open file (text or binary, plain or gzip), or an iterable of
# Biopython SeqRecords or (header, sequence) pairs.
Input = Any
# str, bytes, bytearray, memoryview, or a Biopython Seq, MutableSeq or SeqRecord.
Sequence = Any

_MAX_THREADS = 1024
# talvo-proteome's columns: text, and numbers (empty in a summary's skip rows).
_TEXT_COLUMNS = ("input", "id", "direction", "residues", "skipped", "description")
_NUMBER_COLUMNS = ("entry", "length", "segment", "start", "end", "seg_length", "special",
                   "expected", "p_value", "q_value", "exact_tail")
# Probabilities are floating point even when every one written is 0 or 1.
_PROBABILITY_TYPES = {"p_value": "float64", "q_value": "float64", "exact_tail": "float64"}
# The types of the number columns when the table has no rows to infer them.
_EMPTY_TABLE_TYPES = {
    "entry": "int64", "length": "int64", "segment": "int64", "start": "int64", "end": "int64",
    "seg_length": "int64", "special": "int64", "expected": "int64", **_PROBABILITY_TYPES,
}


class InputWarning(UserWarning):
    """talvo-proteome's warning about an input that is read all the same,
    though perhaps not as meant; the text names the input."""


class NucleotideWarning(InputWarning):
    """The input looks like nucleotides, not proteins: its segments and
    p-values say nothing about protein composition."""


# How the reader words its nucleotide warning, after the input's name.
_NUCLEOTIDE_TEXT = ": looks like nucleotides: "


def _warn(text: str, stacklevel: int = 1) -> None:
    """Passes a reader's warning on; stacklevel counts from the caller."""
    category = NucleotideWarning if _NUCLEOTIDE_TEXT in text else InputWarning
    warnings.warn(text, category, stacklevel=stacklevel + 1)


def _threads(threads: Optional[int]) -> int:
    if threads is None:
        return max(1, min(os.cpu_count() or 1, _MAX_THREADS))
    if isinstance(threads, bool) or not isinstance(threads, int) or \
            not 1 <= threads <= _MAX_THREADS:
        raise ValueError(f"threads={threads!r}: must be a whole number from 1 to "
                         f"{_MAX_THREADS}, or None (every core)")
    return threads


class Analyser:
    """Options checked once, for analysing many sequences.

    ``Analyser(**options).analyse(seq)`` equals ``analyse(seq, **options)``;
    with ``seed=None`` one seed is taken from the clock for all analyses
    (``.seed``), as talvo-proteome takes one per run. A bad option raises
    ValueError naming it; ``help(talvo)`` describes them.
    """

    def __init__(self, **options: Any) -> None:
        values = _options.checked(options)
        self.seed: int = values["seed"]
        self._settings = _talvo.settings(_options.words(values))

    def analyse(self, sequence: Sequence, *, entry_number: int = 1) -> Result:
        """Analyses one protein; see ``talvo.analyse``."""
        text = _inputs.sequence_text(sequence, entry_number)
        return _talvo.analyse(self._settings, text, entry_number)


def analyse(sequence: Sequence, *, entry_number: int = 1, **options: Any) -> Result:
    """The compositionally biased segments of one protein.

    sequence: a str, bytes, Biopython Seq or SeqRecord. Letters count in any
    case, '-' counts as a residue, and everything else (white space, digits,
    '*') is dropped, as talvo-proteome's FASTA reader drops it;
    ``result.sequence`` holds the residues analysed. FASTA text (starting
    with '>') is refused: ``analyse_file`` reads it.
    Options: see ``help(talvo)``.
    entry_number: with shuffles or generated, the random sequences are seeded
    from the seed and this number, as talvo-proteome seeds entry n of a file.

    Returns a Result: ``.length``, ``.segments`` (Segment named tuples with
    ``.start``, ``.end``, ``.length``, ``.special``, ``.p_value``,
    ``.residues``; every segment, whatever its p-value), ``.overall`` (an
    Overall: ``.special``, ``.expected``, ``.direction``, ``.exact_tail``),
    ``.masked(lower=False)``, ``.to_frame()`` and ``.seed``. Results pickle,
    and show as a table in a notebook.

    Raises ValueError naming the argument for bad options, a window longer
    than the sequence, a sequence without residues or FASTA text.
    """
    return Analyser(**options).analyse(sequence, entry_number=entry_number)


class _Entries(Iterator[Tuple[int, str, Result]]):
    """analyse_file's entries, from the C++ pipeline; closes what the run
    opened when iteration ends, fails or is closed."""

    def __init__(self, source: Input, settings: Any, threads: int,
                 progress: Optional[bool]) -> None:
        self._done = True  # until everything is set up
        self._inputs = _inputs.Inputs([source])
        try:
            self._progress = _progress.Progress(progress, self._inputs.counted)
            self._entries = _talvo.EntryIterator(self._inputs.paths[0], settings, threads,
                                                 self._warn)
        except BaseException:
            self._inputs.close()
            raise
        self._count = 0
        self._done = False

    def _warn(self, text: str) -> None:
        # Above this: the C++ iterator, __next__ and the caller's loop.
        _warn(self._inputs.rename(text), stacklevel=3)

    def __iter__(self) -> "_Entries":
        return self

    def __next__(self) -> Tuple[int, str, Result]:
        if self._done:
            raise StopIteration
        try:
            item, failed = next(self._entries), None
        except StopIteration:
            failed = StopIteration()
        except OSError as error:
            failed = OSError(self._inputs.rename(str(error)))
        if failed is not None:
            self.close()
            self._inputs.check()  # what a feeder ran into comes first
            raise failed
        self._count += 1
        self._progress(self._count)
        return item

    def close(self) -> None:
        """Stops the work; the entries not yet taken are dropped."""
        if self._done:
            return
        self._done = True
        self._entries.close()
        self._inputs.close()
        self._progress.close()

    def __enter__(self) -> "_Entries":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()


def analyse_file(source: Input, *, threads: Optional[int] = None,
                 progress: Optional[bool] = None, **options: Any) -> _Entries:
    """Every protein of a FASTA input, in input order.

    source: a path (plain or gzip; "-" is standard input), an open file (text
    or binary, plain or gzip), or an iterable of Biopython SeqRecords or
    (header, sequence) pairs (the header as in FASTA, without '>': the ID,
    then optionally a description). Each kind gives what the same entries
    in a FASTA file give.
    options: those of ``analyse`` (``help(talvo)``).
    Yields ``(entry_number, id, result)``; ``id`` is the header up to its
    first white space. The proteins are analysed by ``threads`` C++ threads
    (default: every core) without the interpreter lock while Python
    consumes the results. Entries that cannot be analysed (no residues,
    shorter than the window, ...) are yielded too, with ``result.skip``
    saying why (``None`` otherwise) and ``result.overall`` None. An input
    that cannot be read raises OSError, when iteration reaches the problem;
    talvo-proteome's warnings about it come as a ``NucleotideWarning`` or
    another ``InputWarning`` before the entries that follow them.
    ``close()`` (or a ``with`` block) stops the work early. ``progress``:
    see ``summary_table``.
    """
    settings = Analyser(**options)._settings
    return _Entries(source, settings, _threads(threads), progress)


def read_table(source: Union[PathLike, bytes]) -> "pandas.DataFrame":
    """A talvo-proteome TSV table (segments or summary; a file or its bytes)
    as a DataFrame.

    Text fields stay as written (with talvo-proteome's backslash escapes);
    p- and q-values read back as the exact doubles written, always as
    floating point; the empty fields of a summary's skip rows are NaN.
    """
    pandas = _pandas()
    buffer = io.BytesIO(source) if isinstance(source, bytes) else os.fspath(source)
    table = pandas.read_csv(
        buffer, sep="\t", quoting=csv.QUOTE_NONE, keep_default_na=False,
        na_values={column: [""] for column in _NUMBER_COLUMNS},
        dtype={column: str for column in _TEXT_COLUMNS}, float_precision="round_trip",
        encoding="utf-8", encoding_errors="surrogateescape")
    types = _EMPTY_TABLE_TYPES if table.empty else _PROBABILITY_TYPES
    return table.astype({column: kind for column, kind in types.items()
                         if column in table.columns})


def _frame(columns: Any) -> "pandas.DataFrame":
    """A table from the compiled module's columns: NumPy arrays straight
    from the engine's rows, the types those of ``read_table``."""
    return _pandas().DataFrame(columns, copy=False)


def _request(threads: Optional[int], discover: bool, classes: Any, options: Any,
             words: Tuple[str, ...] = ()) -> Tuple[Any, Any]:
    """A run's request and settings: the analysis of the options, or with
    discover every class of classes (their checks as ``discover``'s)."""
    request = _talvo.TableRequest()
    request.threads = _threads(threads)
    if not isinstance(discover, bool):
        raise ValueError(f"discover={discover!r}: must be True or False")
    if discover:
        request.discovery, settings = _discover.make(options, classes, words, stacklevel=4)
    else:
        if classes is not None:
            raise ValueError("classes: give discover=True too (classes is discovery's class set)")
        settings = _talvo.settings(_options.words(_options.checked(options)) + list(words))
    return request, settings


def _run(request: Any, sources: Any, progress: Optional[bool], run: Any) -> Any:
    """run(request, bar) over the inputs, with their names in its errors
    and warnings."""
    with _inputs.Inputs(_inputs.split_inputs(sources)) as inputs:
        request.paths, request.names = inputs.paths, inputs.names
        bar = _progress.Progress(progress, inputs.counted)
        try:
            result, failed = run(request, bar), None
        except OSError as error:
            failed = error
        finally:
            bar.close()
        inputs.close()
        inputs.check()  # what a feeder ran into comes first
        if failed is not None:
            raise OSError(inputs.rename(str(failed)))
    for message in result[-1]:
        _warn(inputs.rename(message), stacklevel=4)
    return result


def _tables(sources: Any, *, segments: bool, summary: bool, threads: Optional[int],
            all: bool, description: bool, progress: Optional[bool], discover: bool,
            classes: Any, options: Any) -> Tuple[Any, Any]:
    """talvo-proteome's segment table and summary of the inputs, as asked."""
    _pandas()
    request, settings = _request(threads, discover, classes, options)
    request.all_segments, request.segments, request.summary = bool(all), segments, summary
    request.description = bool(description)
    segment_columns, summary_columns, analysed, skipped, _ = _run(
        request, sources, progress,
        lambda request, bar: _talvo.proteome_tables(request, settings, bar))
    tables = [_frame(columns) if columns is not None else None
              for columns in (segment_columns, summary_columns)]
    for table in tables:
        if table is not None:
            table.attrs.update(seed=settings.seed, analysed=analysed, skipped=skipped)
    return tables[0], tables[1]


def proteome_table(
    sources: Union[Input, Iterable[Input]],
    *,
    threads: Optional[int] = None,
    all: bool = False,
    description: bool = False,
    progress: Optional[bool] = None,
    discover: bool = False,
    classes: Any = None,
    **options: Any,
) -> "pandas.DataFrame":
    """talvo-proteome's segment table for FASTA inputs, as a pandas DataFrame.

    sources: one input or a list of them; each a path, an open file or an
    iterable of records, as ``analyse_file`` takes them. The ``input``
    column holds a path as given, an open file's name, or ``<input N>``
    (the input's place, from 1) for records and unnamed files.
    The table's columns are made in memory from the analysed entries as they
    come (NumPy arrays, no text in between), so that no file is left behind
    however the run ends; its columns and values are exactly those
    of ``talvo-proteome [options] [--all] [--description] paths``
    (q-values over every segment of the run included); only segments with p
    below mask_p unless ``all``; ``description``: a last column with each
    header's text after the ID. options: those of ``analyse``
    (``help(talvo)``). ``table.attrs`` holds the ``seed``, the number of
    ``analysed`` entries and the ``skipped`` ones as (input, entry, id,
    reason). talvo-proteome's warnings about the inputs come as a
    ``NucleotideWarning`` or another ``InputWarning``. ``progress``: see
    ``summary_table``. Needs pandas (Debian python3-pandas).

    discover: which residues are biased, as ``talvo-proteome --discover``:
    every protein for every class of ``classes`` (see ``talvo.discover``),
    a ``class`` column after ``id``, and q-values over every segment of
    every class.
    """
    return _tables(sources, segments=True, summary=False, threads=threads, all=all,
                   description=description, progress=progress, discover=discover,
                   classes=classes, options=options)[0]


def summary_table(
    sources: Union[Input, Iterable[Input]],
    *,
    threads: Optional[int] = None,
    description: bool = False,
    progress: Optional[bool] = None,
    discover: bool = False,
    classes: Any = None,
    **options: Any,
) -> "pandas.DataFrame":
    """talvo-proteome's summary (``--summary``) for FASTA inputs: one row per
    protein with its overall exact test and its q-value over the run's
    proteins, or why it was skipped (its numbers NaN then). With discover
    (and classes, as for ``proteome_table``), a row per protein and class.

    sources, description, options and ``table.attrs``: as for
    ``proteome_table``. progress: a bar (through tqdm, when installed)
    counting the entries, with their total once the paths' entries are
    counted; None (the default) shows it in a terminal or a notebook for runs
    that take over 2 seconds, True from the start, False never.
    """
    return _tables(sources, segments=False, summary=True, threads=threads, all=False,
                   description=description, progress=progress, discover=discover,
                   classes=classes, options=options)[1]


def write_masked(
    sources: Union[Input, Iterable[Input]],
    path: PathLike,
    *,
    lower: bool = False,
    threads: Optional[int] = None,
    progress: Optional[bool] = None,
    discover: bool = False,
    classes: Any = None,
    mask_linkage: int = _discover.MASK_LINKAGE,
    **options: Any,
) -> Dict[str, Any]:
    """Writes the masked FASTA of the inputs to path, as ``talvo-proteome
    [--discover] [-L] --masked path`` does: every entry, 80 residues a line,
    its segments with p below mask_p as X (lower: in lower case); with
    discover, the segments of every class of ``classes``, found at linkage
    distance ``mask_linkage`` (``--mask-linkage``), whose q-value over all
    of the run's is below mask_p. The file appears
    only once the run succeeded. sources, threads, progress, discover,
    classes and the options: as for ``proteome_table``. Returns the
    ``seed``, the number of ``analysed`` entries and the ``skipped`` ones.
    """
    if not isinstance(lower, bool):
        raise ValueError(f"lower={lower!r}: must be True or False")
    target = os.fsdecode(path) if _inputs.is_path(path) else None
    if not target or target == "-":
        raise ValueError(f"path={path!r}: must be the path of the file to write")
    mask_linkage = _options.mask_linkage(mask_linkage)
    if mask_linkage != _discover.MASK_LINKAGE and not discover:
        raise ValueError(f"mask_linkage={mask_linkage}: sets the mask of discover=True")
    request, settings = _request(threads, discover, classes, options, ("-L",) if lower else ())
    analysed, skipped, _ = _run(
        request, sources, progress,
        lambda request, bar: _talvo.write_masked(request, settings, target, mask_linkage, bar))
    return dict(seed=settings.seed, analysed=analysed, skipped=skipped)


def scan_pvalue(k: int, w: int, n: int, p: float, fractional: bool = False) -> float:
    """Probability of at least k special positions in some window of w
    positions of a random sequence of n, each special with probability p
    (the p-value of a segment; fractional as ``fractional_windows``)."""
    return _talvo.scan_pvalue(k, w, n, p, fractional)


def binomial_tail(k: int, n: int, p: float) -> float:
    """P(X >= k) for X binomial (n, p), exactly as TALVO's overall test."""
    return _talvo.binomial_tail(k, n, p)


def _pandas() -> Any:
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "talvo's tables need pandas: apt-get install python3-pandas "
            "(or pip install pandas)") from error
    return pandas


for _function in (Analyser.__init__, analyse, analyse_file, proteome_table, summary_table,
                  write_masked, discover, list_classes):
    _options.with_options(_function)
