# Discovery from Python against talvo-proteome --discover: the same tables,
# summaries and masks, and each class exactly as analyse with its letters.
import os
import pickle
import random
import shutil
import subprocess
import tempfile
import warnings

import pytest

import talvo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROTEOME = os.environ.get("TALVO_PROTEOME", os.path.join(ROOT, "build", "talvo-proteome"))
EXAMPLES = os.path.join(ROOT, "examples")

# (talvo-proteome options, the same as keywords)
CASES = [
    ([], {}),
    (["-E:2", "-X", "-M:0.2"], dict(linkage=2, background="pdb", mask_p=0.2)),
    (["-K", "-I"], dict(estimate_linkage=True, background="input")),
    (["-G:1", "--exact-null", "--seed", "3"], dict(generated=1, exact_null=True, seed=3)),
    (["-W:9"], dict(window=9)),
]


@pytest.fixture(scope="module")
def workdir():
    path = tempfile.mkdtemp(prefix="talvo-discover-")
    rng = random.Random(25)
    with open(os.path.join(path, "biased.fa"), "w") as out:
        out.write(">empty\n\n>short MK\nMK\n")
        for number in range(12):
            tract = rng.choice(["QN", "RG", "KRDE", "P", "ST"]) * rng.randint(2, 8)
            residues = "".join(rng.choice("ACDEFGHIKLMNPQRSTVWY") for _ in range(rng.randint(40, 300)))
            cut = rng.randrange(len(residues))
            out.write(f">p{number} planted\n{residues[:cut] + tract + residues[cut:]}\n")
    with open(os.path.join(path, "classes.tsv"), "w") as out:
        out.write("# two classes\nbasic\tKR\nQN\tqn  # prion-like\n")
    yield path
    shutil.rmtree(path)


def tool(*args):
    return subprocess.run([PROTEOME, "--threads", "2", "--discover", *args], check=True,
                          capture_output=True).stdout


@pytest.mark.parametrize("args,options", CASES)
def test_tables_and_classes_equal_talvo_proteome(workdir, args, options):
    warnings.simplefilter("ignore", UserWarning)  # window mode is not calibrated
    inputs = [os.path.join(workdir, "biased.fa"), os.path.join(EXAMPLES, "globins45.fa")]
    for extra, keywords in (([], {}), (["--classes", f"{workdir}/classes.tsv"],
                                       dict(classes=dict(basic="KR", QN=["Q", "N"])))):
        table = talvo.proteome_table(inputs, discover=True, all=True, **keywords, **options)
        expected = talvo.read_table(tool("--all", *extra, *args, *inputs))
        assert table.equals(expected) and list(table.columns) == list(expected.columns)
        summary = talvo.summary_table(inputs, discover=True, **keywords, **options)
        assert summary.equals(talvo.read_table(tool("--summary", "/dev/stdout", "--output",
                                                    "/dev/null", *extra, *args, *inputs)))
    assert talvo.proteome_table(inputs, discover=True, **options).equals(
        talvo.read_table(tool(*args, *inputs)))
    # Each class of one protein is analyse with its letters (and linkage distance).
    for number, _, result in talvo.analyse_file(inputs[0], **options):
        if result.skip is None:
            found = talvo.discover(result.sequence, entry_number=number, **options)
            for name, letters in found.classes.items():
                linkage = {} if options.get("estimate_linkage") else dict(linkage=found[name].linkage)
                alone = talvo.analyse(result.sequence, entry_number=number, alphabet=letters,
                                      **{**options, **linkage})
                assert found[name].segments == alone.segments
                assert found[name].overall == alone.overall


def test_class_lists_and_results_in_notebooks(workdir):
    classes = os.path.join(workdir, "classes.tsv")
    for args, options in (([], {}), (["-X", "--classes", classes], dict(background="pdb", classes=classes))):
        assert talvo.list_classes(**options).equals(talvo.read_table(tool("--list-classes", *args)))
    found = talvo.discover("MSTPQQQQNNQNQNAKRKRKRKKRAGGGGGGGG", classes=classes)
    assert found.biased == ["basic", "QN"] and list(found) == ["basic", "QN"]
    again = pickle.loads(pickle.dumps(found))
    assert again.to_frame().equals(found.to_frame()) and again.masked() == found.masked()
    assert "2 segments at q &lt; 0.05 in 2 classes" in found._repr_html_()


def test_bad_classes_name_the_class_or_line(workdir):
    bad = os.path.join(workdir, "bad.tsv")
    for text, message in [("basic\tKR\nodd\tKRB\n", r"bad.tsv:2: unknown letter 'B' in 'KRB'"),
                          ("a\tK\na\tR\n", r"bad.tsv:2: class 'a' given twice"),
                          ("# none\n", r"bad.tsv: no classes"),
                          ("a K\n", r"bad.tsv:1: expected NAME<TAB>LETTERS")]:
        with open(bad, "w") as out:
            out.write(text)
        with pytest.raises(ValueError, match=f"classes='.*{message}"):
            talvo.discover("MKRKR", classes=bad)
    for classes, error, message in [
            ({}, ValueError, r"classes=\{\}: no classes"),
            ({"a b": "KR"}, ValueError, r"classes\['a b'\]='KR': bad class name"),
            ({"x": "KZ"}, ValueError, r"classes\['x'\]='KZ': unknown letter 'Z'"),
            ({"x": ""}, ValueError, r"classes\['x'\]='': no letters"),
            ({"x": 5}, ValueError, r"classes\['x'\]=5: the letters must be"),
            (["KR"], TypeError, r"classes must be None")]:
        with pytest.raises(error, match=message):
            talvo.proteome_table([("a", "MKRKR")], discover=True, classes=classes)
    with pytest.raises(FileNotFoundError):
        talvo.discover("MKRKR", classes=os.path.join(workdir, "none.tsv"))
    with pytest.raises(ValueError, match=r"alphabet='KR': discovery analyses every class"):
        talvo.discover("MKRKR", alphabet="KR")
    with pytest.raises(ValueError, match=r"classes: give discover=True too"):
        talvo.summary_table([("a", "MKRKR")], classes={"b": "KR"})
    with pytest.warns(UserWarning, match="not calibrated for discovery"):
        talvo.discover("MKRKR" * 5, shuffles=10)


@pytest.mark.parametrize("args,keywords", [
    (["--discover", "-L"], dict(discover=True, lower=True)),
    (["--discover", "-M:0.001", "-E:1", "--mask-linkage", "3"],
     dict(discover=True, mask_p=0.001, linkage=1, mask_linkage=3)),
    (["--discover", "-E:8"], dict(discover=True, linkage=8)),  # the reported segments are the mask's
    (["-L", "-A:QN"], dict(lower=True, alphabet="QN")),
])
def test_masked_fasta_equals_talvo_proteome(workdir, args, keywords):
    source = os.path.join(workdir, "biased.fa")
    mine, theirs = os.path.join(workdir, "mine.fa"), os.path.join(workdir, "theirs.fa")
    subprocess.run([PROTEOME, *args, "--masked", theirs, "--output", "/dev/null", source], check=True,
                   capture_output=True)
    talvo.write_masked(source, mine, **keywords)
    with open(mine) as a, open(theirs) as b:
        assert a.read() == b.read()
    if keywords.get("discover"):
        # One protein's mask is that of a file holding it alone.
        options = {k: v for k, v in keywords.items() if k not in ("discover", "lower")}
        sequence = "MSTPQQQQNNQNQNAKRKRKRKKRAGGGGGGGGLLLLDEDEEEDDEEPPPPPPPP"
        source = os.path.join(workdir, "one.fa")
        with open(source, "w") as out:
            out.write(f">one\n{sequence}\n")
        subprocess.run([PROTEOME, *args, "--masked", theirs, "--output", "/dev/null", source],
                       check=True, capture_output=True)
        with open(theirs) as b:
            expected = "".join(b.read().split("\n")[1:])
        assert talvo.discover(sequence, **options).masked(lower=keywords.get("lower", False)) == expected
    for path in (mine, theirs):
        os.remove(path)
