"""One protein's segments as a matplotlib figure, and the entry of a FASTA
file that a name picks out. matplotlib is imported when a figure is made, so
``import talvo`` does not need it."""

from __future__ import annotations

import difflib
import math
from typing import TYPE_CHECKING, Any, List, Optional, Sequence, Tuple

from ._talvo import Result, Segment

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.gridspec import GridSpecFromSubplotSpec

# Figure size in inches, dots per inch, base font size in points, most rows of the key.
SIZES = {"slide": ((12.0, 6.4), 160, 14.0, 3), "print": ((7.0, 4.2), 300, 7.0, 3)}
DEFAULT_ALPHABET = "GPSTDNH"
# The colour classes below the threshold end at these values (p or q).
CLASS_BOUNDS = (0.01, 1e-3, 1e-5, 1e-10)
NOT_SIGNIFICANT_COLOUR = "#c4c4c4"
SEQUENCE_COLOUR = "#ececec"
CURVE_COLOUR = "#1f4e79"
# The track's layout in fractions of its height: the sequence bar, the
# segments over it, and the row of labels above them.
BAR, SEGMENT_BAR, LABEL_BOTTOM, LABEL_TOP = (0.13, 0.23), (0.06, 0.30), 0.46, 0.97
AMINO_ACIDS = dict(zip("ACDEFGHIKLMNPQRSTVWY", (
    "alanine", "cysteine", "aspartate", "glutamate", "phenylalanine", "glycine", "histidine",
    "isoleucine", "lysine", "leucine", "methionine", "asparagine", "proline", "glutamine",
    "arginine", "serine", "threonine", "valine", "tryptophan", "tyrosine")))
CLASSES = {"DE": "acidic", "KR": "basic", "HKR": "basic", "DEHKR": "charged",
           "FWY": "aromatic", "FHWY": "aromatic"}


def plot(
    result: Result,
    name: Optional[str] = None,
    ax: Optional["Axes"] = None,
    *,
    alphabet: Optional[str] = None,
    q_values: Optional[Sequence[float]] = None,
    threshold: float = 0.05,
    labels: int = 5,
    window: Optional[int] = None,
    size: str = "slide",
    figsize: Optional[Tuple[float, float]] = None,
    dpi: Optional[float] = None,
) -> "Figure":
    """One protein's segments along its sequence, as a matplotlib Figure.

    Top: the sequence as a track, every segment on it coloured by its q-value
    (``q_values``) or else its p-value, with a colour bar; the most
    significant segments below ``threshold`` are labelled (at most
    ``labels``, as many as fit side by side), the others below the threshold
    listed in a key under the plot. Bottom: the fraction of special residues
    in a sliding window against the expected fraction P, the significant
    segments shaded. Labels, titles and the key stay inside the figure and
    apart, for proteins of any length; a short protein's residues are written
    under the track.

    result: from ``analyse``, ``analyse_entry`` or ``analyse_file``;
    ``name`` goes in the title.
    alphabet: the special residues the result was analysed with (default
    GPSTDNH); checked against the result's count of special residues.
    q_values: one per segment of ``result.segments``, e.g. the ``q_value``
    column of the protein's rows of ``proteome_table(..., all=True)``.
    window: of the sliding fraction; default 25 residues, N/150 for long
    proteins, N/5 for short ones.
    size: "slide" (12 x 6.4 in at 160 dpi: 1920 x 1024 pixels, 14 pt text) or
    "print" (7 x 4.2 in at 300 dpi, 7 pt text); figsize and dpi override it.
    ax: a subplot of a grid (e.g. from ``plt.subplots``) whose place the plot
    takes; its figure is returned. Without it a new Figure with constrained
    layout, outside pyplot: save it with ``fig.savefig(path)``, or return it
    from a notebook cell to show it.

    Raises TypeError or ValueError naming the argument that is wrong.
    """
    alphabet = _checked_alphabet(result, alphabet)
    values, letter = _significance(result, q_values)
    if not isinstance(threshold, (int, float)) or not 0 < threshold <= 1:
        raise ValueError(f"threshold must be above 0 and at most 1, not {threshold!r}")
    if not isinstance(labels, int) or labels < 0:
        raise ValueError(f"labels must be a whole number, 0 or more, not {labels!r}")
    window = _window(result.length, window)
    if size not in SIZES:
        raise ValueError(f"size must be 'slide' or 'print', not {size!r}")
    default_size, default_dpi, font, key_rows = SIZES[size]
    figure, grid = _canvas(ax, figsize or default_size, dpi or default_dpi)

    panels = _Panels(figure, grid, result, values, threshold, font)
    panels.draw_track()
    panels.draw_fraction(alphabet, window)
    panels.draw_colour_bar(letter)
    named = name.replace("$", r"\$") + ": " if name else ""  # a $ would start mathtext
    heading = f"{named}{result.length:,} residues"
    panels.write_titles(heading, ax is None, _alphabet_words(alphabet), letter, window)
    figure.draw_without_rendering()  # lays the panels out, to measure them
    panels.write_residues()
    panels.thin_colour_bar()
    panels.fit_titles()
    labelled = panels.labels_that_fit(letter, labels)
    panels.draw_key(labelled, letter, key_rows)
    figure.draw_without_rendering()
    panels.draw_labels(labelled, letter)
    return figure


def analyse_entry(path: Any, name: str, **options: Any) -> Tuple[str, Result]:
    """The entry of a FASTA file that ``name`` picks out, analysed.

    name: an entry's ID (its header up to the first white space), one of the
    ID's '|'-separated fields (``Q8WWJ3_HUMAN`` or ``Q8WWJ3`` for
    ``tr|Q8WWJ3|Q8WWJ3_HUMAN``), or the start of an ID, tried in this order.
    options: those of ``analyse``. Returns ``(id, result)``, the result equal
    to what ``analyse_file(path, **options)`` yields for the entry. Raises
    LookupError naming ``name`` and the closest IDs when no entry matches,
    or the matches when several do.
    """
    from . import Analyser, analyse_file

    analyser = Analyser(**options)
    ids: List[str] = []
    # Matches by kind: the whole ID, one of its fields, its start.
    matches: List[List[Tuple[int, str, str]]] = [[], [], []]
    with analyse_file(path) as entries:
        for number, id_, result in entries:
            ids.append(id_)
            for kind, hit in enumerate((id_ == name, name in id_.split("|"), id_.startswith(name))):
                if hit:
                    matches[kind].append((number, id_, result.sequence))
    found = next((kind for kind in matches if kind), [])
    if len(found) != 1:
        raise LookupError(_lookup_message(name, path, ids, [id_ for _, id_, _ in found]))
    number, id_, sequence = found[0]
    # The random sequences, if any, are seeded from the entry's number as in the file.
    return id_, analyser.analyse(sequence, entry_number=number)


def _lookup_message(name: str, path: Any, ids: List[str], found: List[str]) -> str:
    if found:
        shown = ", ".join(found[:5]) + (", ..." if len(found) > 5 else "")
        return f"name {name!r} matches {len(found)} entries of {path}: {shown}"
    fields = {field: id_ for id_ in ids for field in [id_, *id_.split("|")] if field}
    nearest = difflib.get_close_matches(name, fields, 5, 0.6)
    close = dict.fromkeys(fields[field] for field in nearest)
    hint = f"; closest IDs: {', '.join(close)}" if close else ""
    return f"name {name!r} matches no entry of {path} ({len(ids)} entries){hint}"


def _checked_alphabet(result: Result, alphabet: Optional[str]) -> str:
    if not isinstance(result, Result):
        raise TypeError(f"result must be a talvo.Result, not {type(result).__name__}")
    if result.overall is None:
        raise ValueError(f"result: the entry was skipped ({result.skip}); nothing to plot")
    if alphabet is not None and (not isinstance(alphabet, str) or not alphabet):
        raise ValueError(f"alphabet must be the special residues as a string, not {alphabet!r}")
    letters = (alphabet or DEFAULT_ALPHABET).upper()
    counted = sum(residue in letters for residue in result.sequence)
    if counted != result.overall.special:
        raise ValueError(
            f"alphabet {letters!r} counts {counted} special residues, the result "
            f"{result.overall.special}: give the alphabet the result was analysed with")
    return letters


def _significance(result: Result, q_values: Optional[Sequence[float]]) -> Tuple[List[float], str]:
    if q_values is None:
        return [segment.p_value for segment in result.segments], "p"
    values = [float(q) for q in q_values]
    if len(values) != len(result.segments) or not all(0 <= q <= 1 for q in values):
        raise ValueError(f"q_values must hold one value from 0 to 1 for each of the "
                         f"{len(result.segments)} segments, not {q_values!r}")
    return values, "q"


def _window(length: int, window: Optional[int]) -> int:
    if window is None:
        return max(1, min(max(25, length // 150), length // 5))
    if not isinstance(window, int) or not 1 <= window <= length:
        raise ValueError(f"window must be a whole number from 1 to the length {length}, "
                         f"not {window!r}")
    return window


def _canvas(ax: Optional["Axes"], figsize: Tuple[float, float],
            dpi: float) -> Tuple["Figure", "GridSpecFromSubplotSpec"]:
    """The figure and its 3 x 2 grid: track and colour bar, fraction, key."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    if ax is None:
        figure = Figure(figsize=figsize, dpi=dpi, layout="constrained")
        FigureCanvasAgg(figure)
        place = figure.add_gridspec(1, 1)[0]
    else:
        place = ax.get_subplotspec() if hasattr(ax, "get_subplotspec") else None
        if place is None:
            raise ValueError(f"ax must be a subplot of a grid (plt.subplots), not {ax!r}")
        figure = ax.figure
        ax.remove()
    return figure, place.subgridspec(3, 2, width_ratios=[1, 0.015], height_ratios=[1, 1, 0.3])


class _Panels:
    """The axes of one plot and the segments they show, most significant first."""

    def __init__(self, figure: "Figure", grid: "GridSpecFromSubplotSpec", result: Result,
                 values: List[float], threshold: float, font: float) -> None:
        from matplotlib import colormaps

        self.figure, self.grid, self.result, self.font = figure, grid, result, font
        self.track = figure.add_subplot(grid[0, 0])
        self.fraction = figure.add_subplot(grid[1, 0], sharex=self.track)
        self.key = figure.add_subplot(grid[2, :])
        self.key.axis("off")
        self.bounds = [threshold] + [bound for bound in CLASS_BOUNDS if bound < threshold]
        shades = colormaps["YlOrRd"]
        steps = max(len(self.bounds) - 1, 1)
        self.colours = [NOT_SIGNIFICANT_COLOUR] + [shades(0.3 + 0.7 * i / steps)
                                                   for i in range(len(self.bounds))]
        # 0 at or above the threshold, then 1, 2, ... as the value passes each bound.
        self.classes = [sum(value < bound for bound in self.bounds) for value in values]
        self.values = values
        order = sorted(range(len(values)), key=lambda i: (values[i], result.segments[i].start))
        self.significant = [i for i in order if self.classes[i]]
        self.titles: list = []

    def draw_track(self) -> None:
        track, length = self.track, self.result.length
        track.set_xlim(0.5, length + 0.5)
        track.set_ylim(0, 1)
        track.set_yticks([])
        _style(track, self.font, hidden=("left", "right", "top"))
        track.tick_params(labelbottom=False)
        track.broken_barh([(0.5, length)], (BAR[0], BAR[1] - BAR[0]), color=SEQUENCE_COLOUR)
        for level, colour in enumerate(self.colours):  # the most significant last, on top
            spans = [(s.start - 0.5, s.length)
                     for s, c in zip(self.result.segments, self.classes) if c == level]
            # The edge keeps short segments of long proteins visible.
            track.broken_barh(spans, (SEGMENT_BAR[0], SEGMENT_BAR[1] - SEGMENT_BAR[0]),
                              facecolor=colour, edgecolor=colour, linewidth=self.font / 16)

    def draw_fraction(self, alphabet: str, window: int) -> None:
        import numpy
        from matplotlib.ticker import StrMethodFormatter

        axes, font = self.fraction, self.font
        residues = numpy.frombuffer(self.result.sequence.encode(), dtype=numpy.uint8)
        special = numpy.isin(residues, numpy.frombuffer(alphabet.encode(), dtype=numpy.uint8))
        sums = numpy.concatenate(([0], numpy.cumsum(special)))
        fractions = (sums[window:] - sums[:-window]) / window
        centres = numpy.arange(len(fractions)) + (window + 1) / 2
        axes.plot(centres, fractions, color=CURVE_COLOUR,
                  linewidth=font / (12 if len(centres) < 3000 else 24))
        axes.axhline(self.result.special_probability, color="0.25", linestyle="--",
                     linewidth=font / 14)
        for i in self.significant:
            segment = self.result.segments[i]
            axes.axvspan(segment.start - 0.5, segment.end + 0.5, linewidth=0, zorder=0,
                         color=self.colours[self.classes[i]], alpha=0.2)
        axes.set_ylim(0, 1.03)
        axes.set_yticks([0, 0.2, 0.4, 0.6, 0.8, 1])
        axes.set_ylabel("fraction", fontsize=font)
        axes.set_xlabel("position (residue)", fontsize=font)
        _style(axes, font, hidden=("right", "top"))
        axes.xaxis.get_major_locator().set_params(integer=True)
        axes.xaxis.set_major_formatter(StrMethodFormatter("{x:,.0f}"))

    def draw_colour_bar(self, letter: str) -> None:
        from matplotlib.cm import ScalarMappable
        from matplotlib.colors import BoundaryNorm, ListedColormap

        # One equal step per class, however wide its range of values.
        edges = list(range(len(self.colours) + 1))
        mappable = ScalarMappable(BoundaryNorm(edges, len(self.colours)),
                                  ListedColormap(self.colours))
        bar = self.figure.colorbar(mappable, cax=self.figure.add_subplot(self.grid[0, 1]))
        self.bar = bar.ax
        self.bar.set_yticks(edges[1:-1], [_format_value(bound) for bound in self.bounds],
                            fontsize=self.font * 0.85)
        self.bar.tick_params(length=0)
        bar.set_label(f"{letter}-value", fontsize=self.font)
        bar.outline.set_visible(False)
        bar.minorticks_off()

    def thin_colour_bar(self) -> None:
        """Labels every n-th bound of the colour bar only, when it is too short for all."""
        ticks, labels = self.bar.get_yticks(), [_format_value(bound) for bound in self.bounds]
        tallest = max(self._extent(label, 0.85).height for label in labels)
        step = math.ceil(tallest * 1.15 * len(self.colours) / self.bar.bbox.height)
        if step > 1:
            self.bar.set_yticks(ticks[::step], labels[::step], fontsize=self.font * 0.85)

    def write_titles(self, heading: str, own_figure: bool, words: str, letter: str,
                     window: int) -> None:
        """The protein's heading as the figure's title, or as the start of the
        track's title in a figure that is not the plot's own."""
        count, total = len(self.significant), len(self.values)
        what = (f"{count:,} of {total:,} segments of {words} with {letter} < {self.bounds[0]:g}"
                if total else f"no segments of {words}")
        track = what[0].upper() + what[1:] if own_figure else f"{heading}; {what}"
        self.titles = [
            self.track.set_title(track, loc="left", fontsize=self.font),
            self.fraction.set_title(
                f"Fraction of {words} in a {window:,}-residue window; dashed: expected, "
                f"{self.result.special_probability:.2f}", loc="left", fontsize=self.font)]
        if own_figure:
            self.titles.append(self.figure.suptitle(heading, fontsize=self.font * 1.25,
                                                    fontweight="bold"))

    def fit_titles(self) -> None:
        """Shortens the titles that would reach out of the figure."""
        bounds = self.figure.bbox
        right = bounds.x1 - bounds.width * 0.01
        for text in self.titles:
            full, kept = text.get_text(), len(text.get_text())
            box = text.get_window_extent()
            while kept > 1 and (box.x0 < bounds.x0 or box.x1 > right):
                kept -= max(1, kept // 20)
                text.set_text(full[:kept].rstrip() + "…")
                box = text.get_window_extent()

    def write_residues(self) -> None:
        """The residues under the track, when there is room for every one."""
        sequence, track = self.result.sequence, self.track
        if len(sequence) * self._extent("W", 0.8).width * 1.5 > track.bbox.width:
            return
        track.tick_params(bottom=False)
        for position, residue in enumerate(sequence, 1):
            track.text(position, -0.04, residue, transform=track.get_xaxis_transform(),
                       ha="center", va="top", fontsize=self.font * 0.8, family="monospace")

    def labels_that_fit(self, letter: str, most: int) -> int:
        """How many labels, most significant first, fit side by side above the track."""
        room, height = self.track.bbox.width, self.track.bbox.height * (LABEL_TOP - LABEL_BOTTOM)
        used = 0.0
        for count, i in enumerate(self.significant[:most]):
            box = self._extent(self._label(i, letter), 0.9)
            used += box.width + self._pixels(self.font)
            if used > room or box.height > height:
                return count
        return min(most, len(self.significant))

    def draw_key(self, labelled: int, letter: str, most_rows: int) -> None:
        """The significant segments without a label, in as many columns as fit."""
        from matplotlib.patches import Patch

        rest, font = self.significant[labelled:], self.font * 0.85
        below = f"{letter} < {self.bounds[0]:g}"
        if not rest:
            message = (f"Segments with {below}: {labelled}, all labelled" if labelled
                       else f"No segment with {below}")
            self.key.text(0, 1, message, fontsize=font, va="top", transform=self.key.transAxes)
            self._set_key_height(1)
            return
        entries = [f"{_positions(self.result.segments[i])}   {letter} = "
                   f"{_format_value(self.values[i])}" for i in rest]
        handles = [Patch(color=self.colours[self.classes[i]]) for i in rest]
        # Measured among the first entries only (mathtext is slow): the key shows few more.
        widest = max(self._extent(entry, 0.85).width for entry in entries[:8 * most_rows]) \
            + self._pixels(font * 4)
        columns = max(1, min(len(entries), 8, int(self.key.bbox.width / widest)))
        rows = min(math.ceil(len(entries) / columns), most_rows)
        if len(entries) > rows * columns:
            shown = rows * columns - 1
            entries = entries[:shown] + [f"and {len(entries) - shown} more"]
            handles = handles[:shown] + [Patch(alpha=0)]
        self.key.legend(handles, entries, ncol=columns, loc="upper left", frameon=False,
                        fontsize=font, title_fontsize=font, alignment="left", borderaxespad=0,
                        handlelength=1.2, columnspacing=2,
                        title=f"{'Other segments' if labelled else 'Segments'} with {below}")
        self._set_key_height(rows + 1)

    def draw_labels(self, count: int, letter: str) -> None:
        """Labels in a row above the track, each joined to its segment by a line,
        moved sideways as little as keeps them apart and inside the track."""
        track, chosen = self.track, self.significant[:count]
        if not chosen:
            return
        segments = [self.result.segments[i] for i in chosen]
        texts = [self._label(i, letter) for i in chosen]
        wanted = [track.transData.transform((_middle(s), 0))[0] for s in segments]
        widths = [self._extent(text, 0.9).width for text in texts]
        centres = _spread(wanted, widths, track.bbox.x0, track.bbox.x1,
                          gap=self._pixels(self.font / 2))
        to_data = track.transData.inverted().transform
        blend = track.get_xaxis_transform()
        for segment, text, centre in zip(segments, texts, centres):
            x = to_data((centre, 0))[0]
            track.text(x, LABEL_BOTTOM, text, transform=blend, fontsize=self.font * 0.9,
                       ha="center", va="bottom", multialignment="center", in_layout=False)
            track.plot([x, _middle(segment)], [LABEL_BOTTOM - 0.03, SEGMENT_BAR[1]],
                       transform=blend, color="0.3", linewidth=self.font / 16, clip_on=False)

    def _label(self, i: int, letter: str) -> str:
        return f"{_positions(self.result.segments[i])}\n{letter} = {_format_value(self.values[i])}"

    def _set_key_height(self, lines: int) -> None:
        """Gives the key's row the height of its lines, the rest to the plots."""
        plots = self.track.bbox.height + self.fraction.bbox.height
        ratios = self.grid.get_height_ratios()
        needed = self._pixels(lines * self.font * 1.6)
        self.grid.set_height_ratios([*ratios[:2], (ratios[0] + ratios[1]) * needed / max(plots, 1)])

    def _extent(self, text: str, scale: float) -> Any:
        """The box of a text in pixels, at this fraction of the base font size."""
        probe = self.track.text(0, 0, text, fontsize=self.font * scale, ha="center",
                                multialignment="center")
        box = probe.get_window_extent()
        probe.remove()
        return box

    def _pixels(self, points: float) -> float:
        return points * self.figure.dpi / 72


def _style(axes: "Axes", font: float, hidden: Tuple[str, ...]) -> None:
    """Ticks and lines in proportion to the text."""
    for side, spine in axes.spines.items():
        spine.set_visible(side not in hidden)
        spine.set_linewidth(font * 0.07)
    axes.tick_params(labelsize=font * 0.85, width=font * 0.07, length=font * 0.3)


def _spread(wanted: List[float], widths: List[float], left: float, right: float,
            gap: float) -> List[float]:
    """Centres as near the wanted ones as keeps boxes of these widths apart and
    within [left, right] (which hold them all), in the wanted order."""
    order = sorted(range(len(wanted)), key=lambda i: wanted[i])
    centres = list(wanted)
    edge = left
    for i in order:
        centres[i] = max(wanted[i], edge + widths[i] / 2)
        edge = centres[i] + widths[i] / 2 + gap
    edge = right
    for i in reversed(order):
        centres[i] = min(centres[i], edge - widths[i] / 2)
        edge = centres[i] - widths[i] / 2 - gap
    return centres


def _middle(segment: Segment) -> float:
    return (segment.start + segment.end) / 2


def _positions(segment: Segment) -> str:
    if segment.start == segment.end:
        return f"{segment.start:,}"
    return f"{segment.start:,}–{segment.end:,}"


def _format_value(value: float) -> str:
    """0.0067, or 2.8 x 10^-177 in mathtext for small values."""
    if value == 0 or value >= 1e-3:
        return f"{value:.2g}"
    mantissa, exponent = f"{value:.1e}".split("e")
    power = f"10^{{{int(exponent)}}}"
    return f"${power}$" if mantissa == "1.0" else f"${mantissa}\\times{power}$"


def _alphabet_words(alphabet: str) -> str:
    """'arginine (R)', 'basic residues (K, R)', 'special residues G, P, S, ...'."""
    letters = list(dict.fromkeys(alphabet))
    listed = ", ".join(letters)
    named = CLASSES.get("".join(sorted(letters)))
    if named:
        return f"{named} residues ({listed})"
    if len(letters) <= 3 and all(letter in AMINO_ACIDS for letter in letters):
        names = [AMINO_ACIDS[letter] for letter in letters]
        return f"{', '.join(names[:-1]) + ' and ' if len(names) > 1 else ''}{names[-1]} ({listed})"
    return f"special residues {listed}"
