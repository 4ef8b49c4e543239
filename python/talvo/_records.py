"""The records of a result, and what a notebook shows of it.

Segment and Overall are named tuples: they pickle, compare by value, and
``pandas.DataFrame(result.segments)`` gives a column per field. The compiled
module makes them (it imports this module), so this one imports nothing of
the package.
"""

from __future__ import annotations

import html
from typing import TYPE_CHECKING, Any, NamedTuple

if TYPE_CHECKING:
    import pandas

# Residues shown of a long segment, and segments shown, in a notebook's table.
_SHOWN_RESIDUES = 60
_SHOWN_SEGMENTS = 50


class Segment(NamedTuple):
    """A compositionally biased segment: positions 1-based and inclusive,
    ``length`` residues (``len(segment)`` is the number of fields), ``special``
    of them special, its ``p_value`` and its ``residues``."""

    start: int
    end: int
    length: int
    special: int
    p_value: float
    residues: str


class Overall(NamedTuple):
    """The exact binomial test of the whole sequence: ``special`` residues
    against ``expected`` = ceil(N * P); ``direction`` '+' (the upper tail) or
    '-' (fewer than expected), and its ``exact_tail`` probability."""

    special: int
    expected: float
    direction: str
    exact_tail: float


def result_frame(result: Any) -> "pandas.DataFrame":
    """One row per segment, in sequence order: start, end, length, special,
    p_value, residues; the index is the segment's number, from 1, as in
    talvo-proteome's ``segment`` column. Needs pandas."""
    try:
        import pandas
    except ImportError as error:
        raise ImportError("Result.to_frame needs pandas: apt-get install python3-pandas "
                          "(or pip install pandas)") from error
    segments = result.segments
    columns = {field: [getattr(s, field) for s in segments] for field in Segment._fields}
    types = dict(start="int64", end="int64", length="int64", special="int64",
                 p_value="float64", residues="object")
    index = pandas.RangeIndex(1, len(segments) + 1, name="segment")
    return pandas.DataFrame(columns, index=index).astype(types)


def result_html(result: Any) -> str:
    """The result as HTML, for Jupyter: a line on the protein, then a table
    of its segments in sequence order, p-values below mask_p in bold."""
    if result.skip is not None:
        return (f"<p><b>talvo.Result</b>: {result.length} residues, skipped: "
                f"{html.escape(result.skip)}</p>")
    overall = result.overall
    count = len(result.segments)
    lines = [
        f"<p><b>talvo.Result</b>: {result.length} residues, {count} "
        f"segment{'' if count == 1 else 's'} "
        f"(P = {result.special_probability:.5g}, linkage {result.linkage}); overall "
        f"{overall.special} special against {overall.expected:.0f} expected, "
        f"{'upper' if overall.direction == '+' else 'lower'} tail "
        f"{overall.exact_tail:.3g}</p>",
        "<table><thead><tr><th>segment</th><th>start</th><th>end</th><th>length</th>"
        "<th>special</th><th>p_value</th><th>residues</th></tr></thead><tbody>"]
    for number, segment in enumerate(result.segments[:_SHOWN_SEGMENTS], 1):
        residues = segment.residues
        if len(residues) > _SHOWN_RESIDUES:
            residues = residues[:_SHOWN_RESIDUES - 1] + "\u2026"
        p_value = f"{segment.p_value:.3g}"
        if segment.p_value < result.mask_p:
            p_value = f"<b>{p_value}</b>"
        lines.append(f"<tr><td>{number}</td><td>{segment.start}</td><td>{segment.end}</td>"
                     f"<td>{segment.length}</td><td>{segment.special}</td><td>{p_value}</td>"
                     f"<td style=\"font-family:monospace;text-align:left\">"
                     f"{html.escape(residues)}</td></tr>")
    lines.append("</tbody></table>")
    hidden = len(result.segments) - _SHOWN_SEGMENTS
    if hidden > 0:
        lines.append(f"<p>\u2026 and {hidden} more segments: <code>result.to_frame()</code> "
                     "has every one</p>")
    return "\n".join(lines)
