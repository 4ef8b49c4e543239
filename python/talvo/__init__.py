"""TALVO: compositionally biased segments of proteins.

Finds stretches of a protein in which residues of a chosen sub-alphabet (the
*special* residues, GPSTDNH by default) are more frequent than a background
composition predicts, gives each a p-value, and tests the whole protein's
composition. The numbers are those of the ``talvo-proteome`` program, bit for
bit, for the same input and options.

    >>> import talvo
    >>> result = talvo.analyse("MRRRRRRRRRRSTGA", alphabet="R")
    >>> [(s.start, s.end, s.p_value) for s in result.segments]

Options (keywords of ``analyse``, ``analyse_file``, ``proteome_table`` and
``Analyser``), with TALVO's option for each:

alphabet            the special residues, default "GPSTDNH" (-A)
background          "sprot" (default, -T), "pdb" (-X) or "input" (-I: each
                    protein's own composition)
window              0: runs mode (default); 2 or more: scanning windows (-W)
linkage             segments closer than this are joined, default 4 (-E)
estimate_linkage    derive the linkage distance from P instead (-K)
shuffles            p-values from this many shuffles of the sequence (-S)
generated           ... or from sequences generated from the background (-G)
seed                seed of those random sequences; None: taken from the clock
                    and given as ``result.seed`` (talvo-proteome's --seed)
min_p               windows below it are recorded, default 0.05 (-P)
mask_p              segments below it are masked and reported by
                    ``proteome_table``, default 0.05 (-M)
fractional_windows  scan p-values over N/w windows, not N/w rounded up
exact_null          the random null's exact probabilities instead of sampling

Bad options raise ValueError with TALVO's message. Where talvo-proteome warns
about an input (one that looks like nucleotides, say), ``analyse_file`` and
``proteome_table`` warn through ``warnings``: a ``NucleotideWarning`` or
another ``InputWarning``.
"""

from __future__ import annotations

import csv
import io
import os
import re
import time
import warnings
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Optional, Tuple, Union

from . import _talvo
from ._talvo import Overall, Result, Segment
from ._plot import analyse_entry, plot

if TYPE_CHECKING:
    import pandas

__all__ = [
    "Analyser",
    "InputWarning",
    "NucleotideWarning",
    "Overall",
    "Result",
    "Segment",
    "analyse",
    "analyse_entry",
    "analyse_file",
    "binomial_tail",
    "plot",
    "proteome_table",
    "read_table",
    "scan_pvalue",
]
__version__: str = _talvo.__version__

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# str, bytes, bytearray, memoryview, or a Biopython Seq, MutableSeq or SeqRecord.
Sequence = Any

_MAX_THREADS = 1024
_SEED_LIMIT = 1 << 64
# talvo-proteome's columns: text, and numbers (empty in a summary's skip rows).
_TEXT_COLUMNS = ("input", "id", "direction", "residues", "skipped")
_NUMBER_COLUMNS = ("entry", "length", "segment", "start", "end", "seg_length", "special",
                   "expected", "p_value", "q_value", "exact_tail")
# The types of the segment table's columns when it has no rows to infer them.
_EMPTY_TABLE_TYPES = {
    "entry": "int64", "length": "int64", "segment": "int64", "start": "int64", "end": "int64",
    "seg_length": "int64", "special": "int64", "p_value": "float64", "q_value": "float64",
}


class InputWarning(UserWarning):
    """talvo-proteome's warning about an input that is read all the same,
    though perhaps not as meant; the text names the input."""


class NucleotideWarning(InputWarning):
    """The input looks like nucleotides, not proteins: its segments and
    p-values say nothing about protein composition."""


# How the reader words its nucleotide warning, after the input's name.
_NUCLEOTIDE_TEXT = ": looks like nucleotides: "
_FASTA_TEXT = (re.compile(r"\s*>"), re.compile(rb"\s*>"))


def _warn(text: str, stacklevel: int = 1) -> None:
    """Passes a reader's warning on; stacklevel counts from the caller."""
    category = NucleotideWarning if _NUCLEOTIDE_TEXT in text else InputWarning
    warnings.warn(text, category, stacklevel=stacklevel + 1)


def _clock_seed() -> int:
    return (time.time_ns() * 1000003 ^ os.getpid()) % _SEED_LIMIT


def _threads(threads: int | None) -> int:
    if threads is None:
        return max(1, min(os.cpu_count() or 1, _MAX_THREADS))
    if not 1 <= threads <= _MAX_THREADS:
        raise ValueError(f"threads must be a whole number from 1 to {_MAX_THREADS}")
    return threads


def _residue_text(sequence: Any) -> str | bytes:
    """str or bytes from a str, bytes-like object or Biopython Seq/SeqRecord."""
    if isinstance(sequence, (str, bytes)):
        return sequence
    if isinstance(sequence, (bytearray, memoryview)):
        return bytes(sequence)
    try:
        from Bio.Seq import MutableSeq, Seq
        from Bio.SeqRecord import SeqRecord
    except ImportError:
        pass
    else:
        if isinstance(sequence, SeqRecord):
            sequence = sequence.seq
        if isinstance(sequence, (Seq, MutableSeq)):
            return str(sequence)
    raise TypeError(
        "sequence must be a str, bytes or a Biopython Seq or SeqRecord, not "
        + type(sequence).__name__)


def _readable_path(path: PathLike) -> str:
    name = os.fsdecode(path)
    if name != "-":
        open(name, "rb").close()  # the usual OSError for a missing file
    return name


class Analyser:
    """Options checked once, for analysing many sequences.

    ``Analyser(**options).analyse(seq)`` equals ``analyse(seq, **options)``;
    with ``seed=None`` one seed is taken from the clock for all analyses
    (``.seed``), as talvo-proteome takes one per run. Bad options raise
    ValueError with TALVO's message; ``help(talvo)`` describes them.
    """

    def __init__(
        self,
        *,
        alphabet: str = "GPSTDNH",
        background: str = "sprot",
        window: int = 0,
        linkage: int = 4,
        estimate_linkage: bool = False,
        shuffles: int = 0,
        generated: int = 0,
        seed: Optional[int] = None,
        min_p: float = 0.05,
        mask_p: float = 0.05,
        fractional_windows: bool = False,
        exact_null: bool = False,
    ) -> None:
        if seed is None:
            seed = _clock_seed()
        elif not 0 <= seed < _SEED_LIMIT:
            raise ValueError("the seed must be a whole number from 0 to 2^64-1")
        self.seed: int = seed
        self._settings = _talvo.make_settings(
            alphabet, background, window, linkage, estimate_linkage, shuffles,
            generated, seed, min_p, mask_p, fractional_windows, exact_null)

    def analyse(self, sequence: Sequence, *, entry_number: int = 1) -> Result:
        """Analyses one protein; see ``talvo.analyse``."""
        text = _residue_text(sequence)
        # A header's letters would be read as residues and shift every position.
        if _FASTA_TEXT[isinstance(text, bytes)].match(text):
            raise ValueError("the sequence starts with '>', as FASTA text does: "
                             "read FASTA with talvo.analyse_file, or pass the residues only")
        return _talvo.analyse(self._settings, text, entry_number)


def analyse(
    sequence: Sequence,
    *,
    alphabet: str = "GPSTDNH",
    background: str = "sprot",
    window: int = 0,
    linkage: int = 4,
    estimate_linkage: bool = False,
    shuffles: int = 0,
    generated: int = 0,
    seed: Optional[int] = None,
    min_p: float = 0.05,
    mask_p: float = 0.05,
    fractional_windows: bool = False,
    exact_null: bool = False,
    entry_number: int = 1,
) -> Result:
    """The compositionally biased segments of one protein.

    sequence: a str, bytes, Biopython Seq or SeqRecord. Letters count in any
    case, '-' counts as a residue, and everything else (white space, digits,
    '*') is dropped, as talvo-proteome's FASTA reader drops it;
    ``result.sequence`` holds the residues analysed. FASTA text (starting
    with '>') is refused: ``analyse_file`` reads it.
    Options: see ``help(talvo)``.
    entry_number: with shuffles or generated, the random sequences are seeded
    from the seed and this number, as talvo-proteome seeds entry n of a file.

    Returns a Result: ``.length``, ``.segments`` (each with ``.start``,
    ``.end``, ``.length``, ``.special``, ``.p_value``, ``.residues``; every
    segment, whatever its p-value), ``.overall`` (``.special``,
    ``.expected``, ``.direction``, ``.exact_tail``), ``.masked(lower=False)``
    and ``.seed``.

    Raises ValueError with TALVO's message for bad options, a window longer
    than the sequence, a sequence without residues or FASTA text.
    """
    analyser = Analyser(
        alphabet=alphabet, background=background, window=window, linkage=linkage,
        estimate_linkage=estimate_linkage, shuffles=shuffles, generated=generated,
        seed=seed, min_p=min_p, mask_p=mask_p, fractional_windows=fractional_windows,
        exact_null=exact_null)
    return analyser.analyse(sequence, entry_number=entry_number)


def analyse_file(
    path: PathLike, *, threads: int | None = None, **options: Any
) -> Iterator[Tuple[int, str, Result]]:
    """Every protein of a FASTA file (plain or gzip; "-" is standard input).

    options: those of ``analyse`` (``help(talvo)``).
    Yields ``(entry_number, id, result)`` in input order; ``id`` is the
    header up to its first white space. The proteins are analysed by
    ``threads`` C++ threads (default: every core) without the interpreter
    lock while Python consumes the results. Entries that cannot be analysed
    (no residues, shorter than the window, ...) are yielded too, with
    ``result.skip`` saying why (``None`` otherwise) and ``result.overall``
    None. A file that cannot be read raises OSError, when iteration reaches
    the problem; talvo-proteome's warnings about it come as a
    ``NucleotideWarning`` or another ``InputWarning`` before the entries that
    follow them. ``close()`` (or a ``with`` block) stops the work early.
    """
    settings = Analyser(**options)._settings
    return _talvo.EntryIterator(_readable_path(path), settings, _threads(threads), _warn)


def read_table(source: Union[PathLike, bytes]) -> "pandas.DataFrame":
    """A talvo-proteome TSV table (segments or summary; a file or its bytes)
    as a DataFrame.

    Text fields stay as written (with talvo-proteome's backslash escapes);
    p- and q-values read back as the exact doubles written; the empty fields
    of a summary's skip rows are NaN.
    """
    pandas = _pandas()
    buffer = io.BytesIO(source) if isinstance(source, bytes) else os.fspath(source)
    table = pandas.read_csv(
        buffer, sep="\t", quoting=csv.QUOTE_NONE, keep_default_na=False,
        na_values={column: [""] for column in _NUMBER_COLUMNS},
        dtype={column: str for column in _TEXT_COLUMNS}, float_precision="round_trip",
        encoding="utf-8", encoding_errors="surrogateescape")
    if table.empty:
        table = table.astype({column: kind for column, kind in _EMPTY_TABLE_TYPES.items()
                              if column in table.columns})
    return table


def proteome_table(
    paths: Union[PathLike, Iterable[PathLike]],
    *,
    threads: int | None = None,
    all: bool = False,
    **options: Any,
) -> "pandas.DataFrame":
    """talvo-proteome's segment table for FASTA files, as a pandas DataFrame.

    The table is written by talvo-proteome's own writer into memory (its
    working files are unlinked as they are made), so that no file is left
    behind however the run ends; its columns and values
    are exactly those of ``talvo-proteome [options] [--all] paths``
    (q-values over every segment of the run included); only segments with p
    below mask_p unless ``all``. options: those of ``analyse``
    (``help(talvo)``). ``table.attrs`` holds the ``seed``, the number of
    ``analysed`` entries and the ``skipped`` ones as (input, entry, id,
    reason). talvo-proteome's warnings about the inputs come as a
    ``NucleotideWarning`` or another ``InputWarning``. Needs pandas (Debian
    python3-pandas).
    """
    _pandas()
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    names = [_readable_path(path) for path in paths]
    analyser = Analyser(**options)
    text, analysed, skipped, messages = _talvo.proteome_table(
        names, analyser._settings, _threads(threads), all)
    for message in messages:
        _warn(message, stacklevel=2)
    table = read_table(text)
    table.attrs.update(seed=analyser.seed, analysed=analysed, skipped=skipped)
    return table


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
