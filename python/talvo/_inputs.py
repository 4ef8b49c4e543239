"""The inputs of a run, of every kind, as the C++ reader takes them.

A path goes to the reader as it is. An open file (text or binary, plain or
gzip) and an iterable of Biopython SeqRecords or (header, sequence) pairs are
fed to it through a pipe, by a thread of their own, as FASTA text: the same
reader then reads every kind, so that each gives what its FASTA file gives.
"""

from __future__ import annotations

import itertools
import os
import re
import threading
from typing import Any, BinaryIO, Iterable, Iterator, List, Optional, Tuple

_CHUNK = 1 << 16
_LINE_BREAKS = str.maketrans("", "", "\r\n")
# What Biopython puts in a SeqRecord made without a description.
_NO_DESCRIPTION = "<unknown description>"


def residue_text(sequence: Any) -> str | bytes:
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


_FASTA_TEXT = (re.compile(r"\s*>"), re.compile(rb"\s*>"))


def sequence_text(sequence: Any, entry_number: int) -> str | bytes:
    """One protein's text for the analysis, and its entry number checked."""
    text = residue_text(sequence)
    # A header's letters would be read as residues and shift every position.
    if _FASTA_TEXT[isinstance(text, bytes)].match(text):
        raise ValueError("sequence: starts with '>', as FASTA text does: read FASTA "
                         "with talvo.analyse_file, or pass the residues only")
    if isinstance(entry_number, bool) or not isinstance(entry_number, int) or entry_number < 0:
        raise ValueError(f"entry_number={entry_number!r}: must be a whole number of at least 0")
    return text


def is_path(source: Any) -> bool:
    return isinstance(source, (str, bytes, os.PathLike))


def is_file(source: Any) -> bool:
    return callable(getattr(source, "read", None))


def _is_record(item: Any) -> bool:
    """A SeqRecord, or a (header, sequence) pair."""
    if hasattr(item, "seq") and hasattr(item, "id"):
        return True
    return isinstance(item, (tuple, list)) and len(item) == 2 and isinstance(item[0], (str, bytes))


def split_inputs(sources: Any) -> List[Any]:
    """The inputs of proteome_table and summary_table: one path, file or
    iterable of records, or a list of them. An iterable whose first item is
    a record is one input."""
    if is_path(sources) or is_file(sources):
        return [sources]
    if not isinstance(sources, Iterable):
        raise TypeError(f"inputs must be a path, an open file, an iterable of SeqRecords or "
                        f"(header, sequence) pairs, or a list of them, not "
                        f"{type(sources).__name__}")
    items = iter(sources)
    first = next(items, None)
    if first is None:
        raise ValueError("no inputs: give a path, an open file or records")
    if _is_record(first):
        return [itertools.chain([first], items)]
    return [first, *items]


def _header(item: Any, where: str) -> bytes:
    if isinstance(item, (tuple, list)):
        header = item[0]
    else:  # a SeqRecord, written as Biopython writes FASTA
        description = "" if item.description == _NO_DESCRIPTION else item.description
        header = description if description.split(None, 1)[:1] == [item.id] else \
            f"{item.id} {description}".rstrip()
    if isinstance(header, bytes):
        header = header.decode("utf-8", "surrogateescape")
    if "\n" in header or "\r" in header:
        raise ValueError(f"{where}: the header {header!r} has a line break")
    return header.encode("utf-8", "surrogateescape")


def _fasta_record(item: Any, where: str) -> bytes:
    if not _is_record(item):
        raise TypeError(f"{where}: expected a SeqRecord or a (header, sequence) pair, not "
                        f"{type(item).__name__}")
    text = residue_text(item[1] if isinstance(item, (tuple, list)) else item.seq)
    if isinstance(text, bytes):
        text = text.decode("latin-1")  # every byte kept as it is
    text = text.translate(_LINE_BREAKS)
    if text.lstrip().startswith(">"):
        raise ValueError(f"{where}: the sequence starts with '>'")
    return b">" + _header(item, where) + b"\n" + text.encode("latin-1", "replace") + b"\n"


def _record_chunks(records: Iterable[Any], name: str) -> Iterator[bytes]:
    batch: List[bytes] = []
    size = 0
    for number, item in enumerate(records, 1):
        batch.append(_fasta_record(item, f"{name}, record {number}"))
        size += len(batch[-1])
        if size >= _CHUNK:
            yield b"".join(batch)
            batch, size = [], 0
    yield b"".join(batch)


def _file_chunks(file: Any) -> Iterator[bytes]:
    while True:
        chunk = file.read(_CHUNK)
        if not chunk:
            return
        yield chunk.encode("utf-8", "surrogateescape") if isinstance(chunk, str) else chunk


class _Feeder:
    """Writes an input's FASTA text into a pipe whose other end the reader
    opens as /dev/fd/N."""

    def __init__(self, chunks: Iterator[bytes]) -> None:
        self.read_end, write_end = os.pipe()
        self.path = f"/dev/fd/{self.read_end}"
        self.error: Optional[BaseException] = None
        self._pipe: BinaryIO = os.fdopen(write_end, "wb", buffering=0)
        self._thread = threading.Thread(target=self._feed, args=(chunks,), daemon=True)
        self._thread.start()

    def _feed(self, chunks: Iterator[bytes]) -> None:
        try:
            for chunk in chunks:
                self._pipe.write(chunk)
        except BrokenPipeError:
            pass  # the reader stopped early
        except BaseException as error:  # raised in the caller's thread
            self.error = error
            try:
                # A byte the reader refuses: no entry cut short is taken as whole.
                self._pipe.write(b"\0")
            except OSError:
                pass
        finally:
            self._pipe.close()

    def close(self) -> None:
        """After the reader is done: a feeder still writing stops."""
        if self.read_end >= 0:
            os.close(self.read_end)
            self.read_end = -1
        self._thread.join()


class Inputs:
    """The inputs of one run: ``paths`` for the reader, ``names`` for the
    tables and messages. Use as a context manager; ``check()`` raises what a
    feeder ran into."""

    def __init__(self, sources: List[Any]) -> None:
        self.paths: List[str] = []
        self.names: List[str] = []
        self.counted: List[Any] = []  # what the progress bar may count: a path or a collection
        self._feeders: List[_Feeder] = []
        try:
            for number, source in enumerate(sources, 1):
                self._add(source, number)
        except BaseException:
            self.close()
            raise

    def _add(self, source: Any, number: int) -> None:
        if is_path(source):
            name = os.fsdecode(source)
            if name != "-":
                open(name, "rb").close()  # the usual OSError for a missing file
            self.paths.append(name)
            self.names.append(name)
            self.counted.append(name)
            return
        if is_file(source):
            named = getattr(source, "name", None)
            name = os.fsdecode(named) if is_path(named) else f"<input {number}>"
            chunks = _file_chunks(source)
            self.counted.append(None)
        elif isinstance(source, Iterable):
            name = f"<input {number}>"
            chunks = _record_chunks(source, name)
            self.counted.append(source if hasattr(source, "__len__") else None)
        else:
            raise TypeError(f"input {number}: expected a path, an open file or an iterable of "
                            f"SeqRecords or (header, sequence) pairs, not {type(source).__name__}")
        feeder = _Feeder(chunks)
        self._feeders.append(feeder)
        self.paths.append(feeder.path)
        self.names.append(name)

    def rename(self, text: str) -> str:
        """A reader's message about /dev/fd/N, about the input's name instead."""
        for path, name in zip(self.paths, self.names):
            if path != name and text.startswith(path + ":"):
                return name + text[len(path):]
        return text

    def check(self) -> None:
        for feeder in self._feeders:
            if feeder.error is not None:
                raise feeder.error

    def close(self) -> None:
        for feeder in self._feeders:
            feeder.close()

    def __enter__(self) -> "Inputs":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()
