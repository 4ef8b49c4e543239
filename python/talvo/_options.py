"""The analysis options, defined once: their keywords, defaults, help, checks
and the messages that name them, and the talvo-proteome options that say
the same, which the compiled module reads with talvo-proteome's own reader
(talvo::ProteomeSettings). Every function that takes options takes them
from here.
"""

from __future__ import annotations

import difflib
import inspect
import math
import numbers
import os
import textwrap
import time
from dataclasses import dataclass
from collections.abc import Mapping
from typing import Any, Callable, Dict, Iterable, List, Optional

RESIDUE_LETTERS = "ACDEFGHIKLMNPQRSTVWY"
SEED_LIMIT = 1 << 64
INT_LIMIT = (1 << 31) - 1  # the C++ settings hold ints
BACKGROUNDS = ("sprot", "pdb", "input")


class _Refused(ValueError):
    """Why a value does not fit; the option's name and value are put before it."""


def _whole(value: Any, least: int, most: int = INT_LIMIT, what: str = "") -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise _Refused(f"must be a whole number{what}")
    if not least <= value <= most:
        raise _Refused(f"must be a whole number{what}")
    return int(value)


def _count(value: Any) -> int:
    return _whole(value, 0, what=" of at least 0 (0: none)")


def _linkage(value: Any) -> int:
    return _whole(value, 0, what=" of at least 0")


def _window(value: Any) -> int:
    window = _whole(value, 0, what=": 0 (runs mode) or at least 2 (scanning windows)")
    if window == 1:
        raise _Refused("must be 0 (runs mode) or a whole number of at least 2 (scanning windows)")
    return window


def _seed(value: Any) -> Optional[int]:
    if value is None:
        return None
    return _whole(value, 0, SEED_LIMIT - 1, " from 0 to 2**64-1, or None (from the clock)")


def _threshold(value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise _Refused("must be a number from 0 to 1")
    value = float(value)
    if math.isnan(value) or not 0.0 <= value <= 1.0:
        raise _Refused("must be a number from 0 to 1")
    return value


def _flag(value: Any) -> bool:
    if not isinstance(value, bool) and type(value).__name__ != "bool_":  # numpy's too
        raise _Refused("must be True or False")
    return bool(value)


def _background(value: Any) -> str:
    if not isinstance(value, str) or value.lower() not in BACKGROUNDS:
        raise _Refused("must be 'sprot' (the default), 'pdb' or 'input'")
    return value.lower()


def _alphabet(value: Any) -> str:
    """A string of letters, or any collection of one-letter strings."""
    if isinstance(value, (set, frozenset)):
        value = sorted(value, key=str)
    if not isinstance(value, str):
        if not isinstance(value, Iterable) or isinstance(value, (bytes, bytearray)):
            raise _Refused("must be the special residues as a string ('GPSTDNH') or a "
                           "list of letters (['R', 'K'])")
        letters = list(value)
        if not all(isinstance(letter, str) and len(letter) == 1 for letter in letters):
            raise _Refused("must be one-letter strings, as in ['R', 'K']")
        value = "".join(letters)
    wrong = sorted({letter for letter in value.upper() if letter not in RESIDUE_LETTERS})
    if not value or wrong:
        shown = f" ({', '.join(repr(letter) for letter in wrong)} is not)" if wrong else ""
        raise _Refused(f"must be one or more of the 20 residue letters {RESIDUE_LETTERS}{shown}")
    return value.upper()


def _value(letter: str) -> Callable[[Any], List[str]]:
    """TALVO's option with a value, as in -W:20 (floats in their shortest
    exact form)."""
    return lambda value: [f"-{letter}:{value!r}" if isinstance(value, float) else
                          f"-{letter}:{value}"]


def _given(*words: str) -> Callable[[Any], List[str]]:
    """A flag, given when the value is true."""
    return lambda value: list(words) if value else []


def _background_flag(value: str) -> List[str]:
    return [{"sprot": "-T", "pdb": "-X", "input": "-I"}[value]]


@dataclass(frozen=True)
class Option:
    name: str
    default: Any
    talvo: str  # TALVO's or talvo-proteome's option
    help: str
    check: Callable[[Any], Any]
    words: Callable[[Any], List[str]]  # the checked value as talvo-proteome's options


OPTIONS = (
    Option("alphabet", "GPSTDNH", "-A", "the special residues: a string or a list of letters",
           _alphabet, _value("A")),
    Option("background", "sprot", "-T/-X/-I",
           '"sprot" (SPROT composition), "pdb" (PDB) or "input" (each protein\'s own)',
           _background, _background_flag),
    Option("window", 0, "-W", "0: runs mode; 2 or more: scanning windows of that size", _window,
           _value("W")),
    Option("linkage", 4, "-E", "segments closer than this are joined", _linkage, _value("E")),
    Option("estimate_linkage", False, "-K", "derive the linkage distance from P instead",
           _flag, _given("-K")),
    Option("shuffles", 0, "-S", "p-values from this many shuffles of each sequence (runs mode)",
           _count, lambda n: _value("S")(n) if n else []),
    Option("generated", 0, "-G",
           "... or from this many sequences generated from the background", _count,
           lambda n: _value("G")(n) if n else []),
    Option("seed", None, "--seed",
           "seed of the random sequences; None: from the clock, kept as result.seed", _seed,
           lambda seed: ["--seed", str(seed)]),
    Option("min_p", 0.05, "-P", "scanning windows below it are recorded", _threshold,
           _value("P")),
    Option("mask_p", 0.05, "-M",
           "segments below it are masked, and the only ones proteome_table reports", _threshold,
           _value("M")),
    Option("fractional_windows", False, "--fractional-windows",
           "scan p-values over N/w windows, not N/w rounded up", _flag,
           _given("--fractional-windows")),
    Option("exact_null", False, "--exact-null",
           "with shuffles or generated: the random null's exact probabilities", _flag,
           _given("--exact-null")),
)
BY_NAME = {option.name: option for option in OPTIONS}


def describe() -> str:
    """The options as a table for docstrings."""
    return "\n".join(textwrap.fill(f"{o.help} (default {o.default!r}; {o.talvo})", 79,
                                   initial_indent=f"    {o.name:<19}", subsequent_indent=" " * 23)
                     for o in OPTIONS)


def keyword_parameters() -> List[inspect.Parameter]:
    return [inspect.Parameter(o.name, inspect.Parameter.KEYWORD_ONLY, default=o.default)
            for o in OPTIONS]


def with_options(function: Callable, *after: inspect.Parameter) -> Callable:
    """Shows the options in the signature of a function that takes them as
    **options (help(), a notebook's completion), before `after`."""
    signature = inspect.signature(function)
    parameters = [p for p in signature.parameters.values() if p.kind != p.VAR_KEYWORD]
    function.__signature__ = signature.replace(
        parameters=parameters + keyword_parameters() + list(after))
    return function


def _clock_seed() -> int:
    return (time.time_ns() * 1000003 ^ os.getpid()) % SEED_LIMIT


def checked(options: Dict[str, Any]) -> Dict[str, Any]:
    """Every option, defaults filled in and each checked; ValueError names
    the option and its value, TypeError an unknown keyword."""
    for name in options:
        if name not in BY_NAME:
            close = difflib.get_close_matches(name, BY_NAME, 1)
            hint = f"; did you mean {close[0]!r}?" if close else ""
            raise TypeError(f"unknown option {name!r}{hint} (the options: {', '.join(BY_NAME)})")
    values = {}
    for option in OPTIONS:
        value = options.get(option.name, option.default)
        try:
            values[option.name] = option.check(value)
        except _Refused as why:
            raise ValueError(f"{option.name}={value!r}: {why}") from None
    _check_together(values)
    if values["seed"] is None:
        values["seed"] = _clock_seed()
    return values


def _check_together(values: Dict[str, Any]) -> None:
    random = [name for name in ("shuffles", "generated") if values[name]]
    given = " and ".join(f"{name}={values[name]}" for name in random)
    if len(random) == 2:
        raise ValueError(f"{given}: give one of them, shuffled or generated random sequences")
    if random and values["window"]:
        raise ValueError(f"window={values['window']} and {given} exclude each other: p-values "
                         "from random sequences are for runs mode (window=0)")
    if values["exact_null"] and not random:
        raise ValueError("exact_null=True needs shuffles or generated: it gives their "
                         "random null's exact probabilities")


def words(values: Dict[str, Any]) -> List[str]:
    """Checked values (``checked``) as talvo-proteome's options."""
    return [word for option in OPTIONS for word in option.words(values[option.name])]


def _class_letters(name: str, letters: Any) -> str:
    if not isinstance(letters, str):
        if not isinstance(letters, Iterable) or isinstance(letters, (bytes, bytearray)) or \
                not all(isinstance(letter, str) and len(letter) == 1 for letter in letters):
            raise ValueError(f"classes[{name!r}]={letters!r}: the letters must be a string "
                             "('KR') or a list of one-letter strings (['K', 'R'])")
        letters = "".join(letters)
    return letters


def classes(value: Any, read: Callable[[str, str], List[Any]],
            problem: Callable[[str, str], str]) -> Optional[List[Any]]:
    """discover's ``classes``: None (the built-in set), the path of a class
    file (NAME<TAB>LETTERS a line, read by ``read(text, path)``), or a
    mapping from name to letters; as (name, letters) pairs. ValueError names
    the file's line or the class; ``problem(name, letters)`` says what is
    wrong with one."""
    if value is None:
        return None
    if isinstance(value, (str, bytes, os.PathLike)):
        path = os.fsdecode(value)
        with open(path, "rb") as file:
            text = file.read()
        try:
            return read(text, path)
        except ValueError as error:
            raise ValueError(f"classes={value!r}: {error}") from None
    if not isinstance(value, Mapping):
        raise TypeError(f"classes must be None (the built-in set), a class file's path or a "
                        f"mapping from name to letters, not {type(value).__name__}")
    if not value:
        raise ValueError("classes={}: no classes")
    pairs = []
    for name, letters in value.items():
        if not isinstance(name, str):
            raise ValueError(f"classes: the class name {name!r} is not a string")
        letters = _class_letters(name, letters)
        why = problem(name, letters)
        if why:
            raise ValueError(f"classes[{name!r}]={letters!r}: {why}")
        pairs.append((name, letters))
    return pairs


def for_discovery(options: Dict[str, Any], values: Dict[str, Any]) -> bool:
    """Refuses an alphabet, which classes replace; True when each class
    takes its own linkage distance (neither linkage nor estimate_linkage
    given), as talvo-proteome --discover without -E or -K."""
    if "alphabet" in options:
        raise ValueError(f"alphabet={options['alphabet']!r}: discovery analyses every class of "
                         "its class set; give classes={'name': 'letters', ...} instead")
    return "linkage" not in options and not values["estimate_linkage"]


def uncalibrated(values: Dict[str, Any]) -> List[str]:
    """What discovery's q-values are not calibrated for, in talvo-proteome's words."""
    notes = []
    if (values["shuffles"] or values["generated"]) and not values["exact_null"]:
        notes.append("shuffles and generated without exact_null=True are not calibrated for "
                     "discovery: a segment longer than every random sequence's gets p = 0, so "
                     "expect false discoveries (exact_null=True gives the exact probabilities)")
    if values["window"]:
        notes.append("window mode is not calibrated for discovery: expect false discoveries in "
                     "most runs")
    return notes


def mask_linkage(value: Any) -> int:
    try:
        return _linkage(value)
    except _Refused as why:
        raise ValueError(f"mask_linkage={value!r}: {why}") from None
