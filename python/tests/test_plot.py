# talvo.plot: every text of the figure inside it and clear of the others, for
# a long protein with many segments and a 10-residue one; and how
# analyse_entry finds an entry by name, or says why it cannot.
import itertools
import os
import random
import shutil
import subprocess
import sys
import tempfile

import pytest

import talvo

Figure = pytest.importorskip("matplotlib.figure").Figure
Text = pytest.importorskip("matplotlib.text").Text
FigureCanvasAgg = pytest.importorskip("matplotlib.backends.backend_agg").FigureCanvasAgg


def arginine_islands(length, seed=5):
    rng = random.Random(seed)
    residues = [rng.choice("ACDEFGHIKLMNPQSTVWY") for _ in range(length)]
    for _ in range(length // 200):
        start = rng.randrange(length)
        for i in range(start, min(length, start + rng.randrange(8, 60))):
            residues[i] = "R" if rng.random() < 0.7 else residues[i]
    return "".join(residues)


def drawn_texts(figure, monkeypatch):
    """(text, box in pixels) of every text drawn."""
    drawn, draw = [], Text.draw

    def record(text, renderer):
        if text.get_visible() and text.get_text().strip():
            drawn.append((text.get_text(), text.get_window_extent(renderer)))
        return draw(text, renderer)

    monkeypatch.setattr(Text, "draw", record)
    figure.canvas.draw()
    return drawn


@pytest.mark.parametrize("length,size,by_q,in_ax", [
    (35000, "slide", False, False), (35000, "print", True, False),
    (10, "slide", False, False), (10, "print", True, True)])
def test_texts_inside_the_figure_and_apart(monkeypatch, length, size, by_q, in_ax):
    result = talvo.analyse(arginine_islands(length) if length > 10 else "MRRRRRAKLE", alphabet="R")
    q_values = [min(1.0, 20 * s.p_value) for s in result.segments] if by_q else None
    name = "sp|Q9KI14|SDRF_STAEP " + "Serine-aspartate repeat-containing protein F " * 4
    ax = None
    if in_ax:
        ax = Figure(figsize=(6, 8), layout="constrained").subplots(2, 1)[1]
        FigureCanvasAgg(ax.figure)
    figure = talvo.plot(result, name, ax, alphabet="r", q_values=q_values, size=size)
    texts = drawn_texts(figure, monkeypatch)
    labels = [text for text, _ in texts if text.count("\n") == 1 and " = " in text]
    assert 1 <= len(labels) <= 5
    if length > 10:
        assert sum(s.p_value < 0.05 for s in result.segments) > 50
        assert any(text.startswith("and ") and text.endswith(" more") for text, _ in texts)
    bounds = figure.bbox
    for text, box in texts:
        assert bounds.x0 <= box.x0 and box.x1 <= bounds.x1, text
        assert bounds.y0 <= box.y0 and box.y1 <= bounds.y1, text
    for (one, box), (other, other_box) in itertools.combinations(texts, 2):
        assert not box.overlaps(other_box), (one, other)


def test_bad_arguments_are_named():
    result = talvo.analyse("MRRRRRAKLE", alphabet="R")
    for options, message in [(dict(alphabet="K"), "alphabet 'K' counts 1"),
                             (dict(alphabet="R", q_values=[0.5, 0.1]), "q_values"),
                             (dict(alphabet="R", size="poster"), "size must be"),
                             (dict(alphabet="R", window=11), "window must be"),
                             (dict(alphabet="R", threshold=0), "threshold must be"),
                             (dict(alphabet="R", labels=-1), "labels must be")]:
        with pytest.raises(ValueError, match=message):
            talvo.plot(result, **options)
    with pytest.raises(TypeError, match="result must be a talvo.Result"):
        talvo.plot("MRRRRRAKLE")


@pytest.fixture
def fasta():
    directory = tempfile.mkdtemp(prefix="talvo-plot-")
    path = os.path.join(directory, "named.fa")
    with open(path, "w") as out:
        for id_ in ("tr|Q8WWJ3|Q8WWJ3_HUMAN", "sp|P12345|ABC_HUMAN", "ABC_HUMANX", "ABC_MOUSE"):
            out.write(f">{id_} a protein\n{arginine_islands(300, seed=len(id_))}\n")
    yield path
    shutil.rmtree(directory)


def test_analyse_entry_by_id_field_or_start(fasta):
    human, abc = "tr|Q8WWJ3|Q8WWJ3_HUMAN", "sp|P12345|ABC_HUMAN"
    for name, found in [("Q8WWJ3_HUMAN", human), ("Q8WWJ3", human), ("sp|P1", abc),
                        ("ABC_HUMAN", abc), ("ABC_HUMANX", "ABC_HUMANX")]:
        assert talvo.analyse_entry(fasta, name)[0] == found
    # The random sequences are seeded from the entry's number, as in the file.
    _, result = talvo.analyse_entry(fasta, "ABC_HUMANX", shuffles=20, seed=3)
    (_, _, expected), = [entry for entry in talvo.analyse_file(fasta, shuffles=20, seed=3)
                         if entry[0] == 3]
    assert [s.p_value for s in result.segments] == [s.p_value for s in expected.segments]
    with pytest.raises(LookupError, match=r"'Q8WWJ4_HUMAN' matches no entry .*closest IDs: tr\|Q8"):
        talvo.analyse_entry(fasta, "Q8WWJ4_HUMAN")
    with pytest.raises(LookupError, match=r"'AB' matches 2 entries .*: ABC_HUMANX"):
        talvo.analyse_entry(fasta, "AB")
    with pytest.raises(ValueError, match="skipped"):
        talvo.plot(next(talvo.analyse_file(fasta, window=400))[2])


def test_import_does_not_load_matplotlib():
    code = "import sys, talvo; assert 'matplotlib' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True)
