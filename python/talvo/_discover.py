"""Discovery: which residues are biased? Every class of a class set (the 20
residues and named classes by default) analysed on a protein, each exactly
as ``analyse`` with the class's letters finds it, and q-values over every
segment of every class."""

from __future__ import annotations

import html
import warnings
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, Mapping, Optional, Tuple

from . import _inputs, _options, _talvo
from ._records import Segment
from ._talvo import Result

if TYPE_CHECKING:
    import pandas

# Rows shown in a notebook's table.
_SHOWN_ROWS = 30
# talvo-proteome's --mask-linkage.
MASK_LINKAGE = 8


def make(options: Dict[str, Any], classes: Any, words: Tuple[str, ...] = (),
         stacklevel: int = 3) -> Tuple[Any, Any]:
    """The compiled Discovery for the options and classes (see ``discover``)
    and its settings, warning about nulls that are not calibrated for it;
    words: more of talvo-proteome's options (-L)."""
    values = _options.checked(options)
    per_class = _options.for_discovery(options, values)
    pairs = _options.classes(classes, _talvo.read_classes, _talvo.class_problem)
    for note in _options.uncalibrated(values):
        warnings.warn(note, UserWarning, stacklevel=stacklevel)
    settings = _talvo.settings(_options.words(values) + list(words))
    return _talvo.Discovery(settings, pairs, per_class), settings


class Discovered(Mapping[str, Result]):
    """One protein's discovery: a mapping from each class's name to its
    Result (in the order of the class set), as ``analyse`` with the class's
    letters gives it.

    ``classes``: name to letters. ``to_frame()``: a row per segment of every
    class, with its ``q_value`` over every segment of every class of this
    protein. ``biased``: the classes with a segment at q below mask_p.
    ``masked(lower=False)``: the mask ``talvo-proteome --discover --masked``
    writes for a file of this protein alone: the classes' segments found at
    the mask's linkage distance whose q-value is below mask_p, as X (or in
    lower case). Pickles, and shows as a table in a notebook.
    """

    def __init__(self, classes: List[Tuple[str, str]], results: List[Result],
                 mask: List[Tuple[int, int]]) -> None:
        self.classes: Dict[str, str] = dict(classes)
        self._mask = mask
        self._results: Dict[str, Result] = dict(zip(self.classes, results))
        self.sequence: str = results[0].sequence
        self.mask_p: float = results[0].mask_p
        self.seed: int = results[0].seed
        p_values = [s.p_value for r in results for s in r.segments]
        self._q_values: List[float] = _talvo.q_values(p_values)

    def __getitem__(self, name: str) -> Result:
        return self._results[name]

    def __iter__(self) -> Iterator[str]:
        return iter(self._results)

    def __len__(self) -> int:
        return len(self._results)

    def __repr__(self) -> str:
        return (f"Discovered(length={len(self.sequence)}, classes={len(self)}, "
                f"biased={self.biased})")

    def _rows(self) -> Iterator[Tuple[str, int, Segment, float]]:
        q_values = iter(self._q_values)
        for name, result in self._results.items():
            for number, segment in enumerate(result.segments, 1):
                yield name, number, segment, next(q_values)

    @property
    def biased(self) -> List[str]:
        """The classes with a segment whose q-value is below mask_p."""
        return list(dict.fromkeys(name for name, _, _, q in self._rows() if q < self.mask_p))

    def masked(self, lower: bool = False) -> str:
        """The sequence with the mask's segments as X, or in lower case: the
        classes' segments found at the mask's linkage distance whose q-value
        (over all of them) is below mask_p."""
        residues = list(self.sequence)
        for start, end in self._mask:
            residues[start - 1:end] = (r.lower() for r in residues[start - 1:end]) if lower \
                else "X" * (end - start + 1)
        return "".join(residues)

    def to_frame(self) -> "pandas.DataFrame":
        """A row per segment, class after class: class, segment (its number
        in its class), start, end, length, special, p_value, q_value,
        residues. Needs pandas."""
        from . import _pandas
        rows = [(name, number, *segment[:5], q, segment.residues)
                for name, number, segment, q in self._rows()]
        columns = ["class", "segment", "start", "end", "length", "special", "p_value",
                   "q_value", "residues"]
        types = dict(segment="int64", start="int64", end="int64", length="int64",
                     special="int64", p_value="float64", q_value="float64")
        return _pandas().DataFrame(rows, columns=columns).astype(types)

    def _repr_html_(self) -> str:
        rows = sorted((row for row in self._rows() if row[3] < self.mask_p),
                      key=lambda row: row[3])
        lines = [f"<p><b>talvo.Discovered</b>: {len(self.sequence)} residues, {len(self)} "
                 f"classes; {len(rows)} segments at q &lt; {self.mask_p:g} in "
                 f"{len(self.biased)} classes</p>"]
        if rows:
            lines.append("<table><thead><tr><th>class</th><th>start</th><th>end</th>"
                         "<th>special</th><th>p_value</th><th>q_value</th></tr></thead><tbody>")
            for name, _, s, q in rows[:_SHOWN_ROWS]:
                lines.append(f"<tr><td>{html.escape(name)}</td><td>{s.start}</td><td>{s.end}"
                             f"</td><td>{s.special}/{s.length}</td><td>{s.p_value:.3g}</td>"
                             f"<td>{q:.3g}</td></tr>")
            lines.append("</tbody></table>")
        if len(rows) > _SHOWN_ROWS:
            lines.append(f"<p>\u2026 and {len(rows) - _SHOWN_ROWS} more: "
                         "<code>to_frame()</code> has every segment</p>")
        return "\n".join(lines)


def list_classes(*, classes: Any = None, **options: Any) -> "pandas.DataFrame":
    """The class set in use, as ``talvo-proteome --discover --list-classes``
    lists it: each class's name, letters (upper case, each once), P under
    the built-in background its linkage distance comes from, and that
    linkage distance ("estimated" with estimate_linkage). classes and the
    options: as for ``discover``. Needs pandas."""
    from . import _pandas
    discovery, _ = make(options, classes)
    names = discovery.classes
    return _pandas().DataFrame({
        "class": [name for name, _ in names], "letters": [letters for _, letters in names],
        "P": [discovery.probability(c) for c in range(len(names))],
        "linkage": [discovery.linkage(c) for c in range(len(names))]})


def discover(sequence: Any, *, classes: Any = None, entry_number: int = 1,
             mask_linkage: int = MASK_LINKAGE, **options: Any) -> Discovered:
    """Which residues are biased in one protein: every class of a class set
    analysed on it, each exactly as ``analyse(sequence, alphabet=letters)``
    finds it, with its own linkage distance (min(round(2 / (3P)), 5) from
    the class's P under the built-in background) unless ``linkage`` or
    ``estimate_linkage`` is given, as ``talvo-proteome --discover`` does.

    classes: None (the 20 residues, then QN, RG, SR, basic, acidic, charged,
    ST, PEST, polar and GPSTDNH), the path of a class file (a class per
    line, NAME<TAB>LETTERS, ``#`` comments), or a mapping from name to
    letters (``{"basic": "KR", "acidic": "DE"}``). A bad class raises
    ValueError naming it (or the file's line).
    sequence, entry_number and the options: as for ``analyse``; ``alphabet``
    is refused (the classes take its place). shuffles or generated without
    exact_null, and window mode, warn: their q-values are not calibrated
    for discovery.
    mask_linkage: the linkage distance of the segments ``masked()`` masks
    (``--mask-linkage``; 8: biased stretches of mixed composition become one
    segment).
    Returns a ``Discovered``: a mapping from class name to Result.
    """
    text = _inputs.sequence_text(sequence, entry_number)
    mask_linkage = _options.mask_linkage(mask_linkage)
    discovery, _ = make(options, classes)
    return Discovered(discovery.classes, _talvo.discover(discovery, text, entry_number),
                      _talvo.mask_spans(discovery, text, entry_number, mask_linkage))
