"""The progress bar of long runs, through tqdm when it is installed.

progress=None (the default) shows it in a terminal (standard error) or a
notebook once a run has taken DELAY seconds, and only when tqdm is
installed; True shows it from the start (and needs tqdm); False never. The
bar counts entries; its total, and so the time left, appears once the
entries of the inputs that can be counted (paths, lists of records) are
counted, by a thread of its own that starts with the bar.
"""

from __future__ import annotations

import gzip
import sys
import threading
import time
from typing import Any, List, Optional

DELAY = 2.0
_CHUNK = 1 << 20


def _interactive() -> bool:
    """Where a bar is seen: a terminal, or a notebook (whose kernel is loaded)."""
    stream = sys.stderr
    return (stream is not None and stream.isatty()) or "ipykernel" in sys.modules


def _tqdm_class(required: bool) -> Any:
    try:
        from tqdm.auto import tqdm
    except ImportError:
        if required:
            raise ImportError("progress=True needs tqdm: apt-get install python3-tqdm "
                              "(or pip install tqdm)") from None
        return None
    return tqdm


def _entries_in(path: str) -> Optional[int]:
    """The headers of a FASTA file, plain or gzip; None for standard input."""
    if path == "-":
        return None
    with open(path, "rb") as raw:
        magic = raw.read(2)
        raw.seek(0)
        stream: Any = gzip.GzipFile(fileobj=raw) if magic == b"\x1f\x8b" else raw
        count, last = 0, b"\n"
        while chunk := stream.read(_CHUNK):
            count += chunk.count(b"\n>") + (last == b"\n" and chunk[:1] == b">")
            last = chunk[-1:]
    return count


def _total(counted: List[Any]) -> Optional[int]:
    total = 0
    for item in counted:
        entries = _entries_in(item) if isinstance(item, str) else \
            len(item) if item is not None else None
        if entries is None:
            return None
        total += entries
    return total


class Progress:
    """Call with the number of entries done so far; close() at the end."""

    def __init__(self, wanted: Optional[bool], counted: List[Any]) -> None:
        if wanted not in (None, True, False):
            raise ValueError(f"progress={wanted!r}: must be True, False or None "
                             "(None: in a terminal or notebook, for runs over "
                             f"{DELAY:g} seconds)")
        self._tqdm = None if wanted is False else _tqdm_class(wanted is True)
        if wanted is None and not _interactive():
            self._tqdm = None
        self._delay = 0.0 if wanted else DELAY
        self._counted = counted
        self._started = time.monotonic()
        self._bar: Any = None
        self._total: Optional[int] = None
        self._done = 0

    def __call__(self, done: int) -> None:
        self._done = done
        if self._tqdm is None:
            return
        if self._bar is None:
            if time.monotonic() - self._started < self._delay:
                return
            self._open()
        if self._total is not None and self._bar.total != self._total:
            self._bar.total = max(self._total, done)
            self._bar.refresh()
        self._bar.update(done - self._bar.n)

    def _open(self) -> None:
        options = dict(unit=" entries", desc="talvo", dynamic_ncols=True, mininterval=0.5)
        try:
            self._bar = self._tqdm(**options)
        except ImportError:  # a notebook without ipywidgets: the text bar
            from tqdm.std import tqdm
            self._bar = tqdm(**options)
        threading.Thread(target=self._count, daemon=True).start()

    def _count(self) -> None:
        try:
            self._total = _total(self._counted)
        except (OSError, EOFError, TypeError):
            pass  # the bar goes on without a total

    def close(self) -> None:
        if self._bar is not None:
            self._bar.update(self._done - self._bar.n)
            self._bar.close()
            self._bar = None
