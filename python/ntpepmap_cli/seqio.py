"""Reading sequence files and writing codon alignments.

An input file is read whole, as bytes: a read-only mapping of a plain file
(no copy), or the decompressed content of a gzip, bzip2 or xz file, known by
its first bytes and not by its name. The tool's native reader turns those
bytes into records, FASTA, CLUSTAL or PHYLIP, and says in one line where a
file is not what it should be.
"""

from __future__ import annotations

import mmap
import os
import sys
from collections.abc import Iterable, Iterator
from io import BufferedReader

from ._native import grow_heap_for, read_records
from .errors import InputError
from .frameshift_digits import expand_frameshift_digits

Record = tuple[str, str]  # (identifier, sequence)
Marked = tuple[list[Record], list[int]]  # records, and indices of records to look at

IN_FORMATS = ("auto", "fasta", "clustal", "phylip")
OUT_FORMATS = ("fasta", "phylip", "paml", "clustal")
BLOCK_WIDTH = 60

_MAP_POPULATE = getattr(mmap, "MAP_POPULATE", 0)  # Linux: map all pages in one go
# A smaller file is read faster than mapped: a batch locus's 40 KB in 23 µs rather than 38.
_MAP_AT_LEAST = 1 << 20
_BYTE_ORDER_MARK = b"\xef\xbb\xbf"


def _map(stream: BufferedReader) -> mmap.mmap | None:
    """A read-only mapping of an open file, or None where it cannot be mapped."""
    try:
        if not hasattr(mmap, "MAP_SHARED"):  # Windows
            return mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ)
        return mmap.mmap(stream.fileno(), 0, flags=mmap.MAP_SHARED | _MAP_POPULATE,
                         prot=mmap.PROT_READ)
    except (OSError, ValueError):  # empty, or a pipe or device
        return None


class _Damaged(Exception):
    """Compressed data that cannot be decompressed; the message says why."""


_PIECE = 4 << 20  # bytes of decompressed text handed on at a time
_TRUNCATED = "Compressed file ended before the end-of-stream marker was reached"


def _gunzipped_pieces(data: bytes) -> Iterator[bytes]:
    """Every member of gzip data (bgzip writes many), trailing zero bytes allowed, in
    pieces of at most _PIECE bytes."""
    try:  # ISA-L's inflate, 1.5-2 times zlib's speed; its gzip module would cost 13 ms
        # of imports (typing among them), this one 2
        from isal.igzip_lib import DECOMP_GZIP, IgzipDecompressor, IsalError
    except ImportError:  # a platform without its wheel
        yield from _zlib_gunzipped(data)
        return
    while data:
        inflater = IgzipDecompressor(flag=DECOMP_GZIP)
        try:
            piece = inflater.decompress(data, _PIECE)
            while True:
                if piece:
                    yield piece
                if inflater.eof:
                    break
                if inflater.needs_input:
                    raise _Damaged(_TRUNCATED)
                piece = inflater.decompress(b"", _PIECE)
        except IsalError as exc:
            raise _Damaged(str(exc)) from None
        data = inflater.unused_data.lstrip(b"\0")


def _zlib_gunzipped(data: bytes) -> Iterator[bytes]:
    """_gunzipped_pieces by Python's zlib, a member at a time."""
    import zlib

    while data:
        inflater = zlib.decompressobj(wbits=31)  # 16 + 15: a gzip header and trailer
        try:
            yield inflater.decompress(data)
        except zlib.error as exc:
            raise _Damaged(str(exc)) from None
        if not inflater.eof:
            raise _Damaged(_TRUNCATED)
        data = inflater.unused_data.lstrip(b"\0")


def _bunzip2(data: bytes) -> Iterator[bytes]:
    import bz2

    try:
        yield bz2.decompress(data)
    except (OSError, EOFError, ValueError) as exc:
        raise _Damaged(str(exc)) from None


def _unxz(data: bytes) -> Iterator[bytes]:
    import lzma

    try:
        yield lzma.decompress(data)
    except (lzma.LZMAError, EOFError) as exc:
        raise _Damaged(str(exc)) from None


# First bytes of each compressed format, its name in messages and its decompressor, which
# gives the decompressed bytes in pieces (gzip's as they come, the others' in one).
_COMPRESSED = ((b"\x1f\x8b", "gzip", _gunzipped_pieces), (b"BZh", "bzip2", _bunzip2),
               (b"\xfd7zXZ\x00", "xz", _unxz))


_MAGIC_BYTES = max(len(magic) for magic, _, _ in _COMPRESSED)


def _is_compressed(head: bytes) -> bool:
    return any(head.startswith(magic) for magic, _, _ in _COMPRESSED)


def _expanded(data: bytes, path: str) -> bytes:
    """The data, decompressed when its first bytes say it is compressed."""
    pieces = list(_expanded_pieces(data, path))
    return pieces[0] if len(pieces) == 1 else b"".join(pieces)


def _expanded_pieces(data: bytes, path: str) -> Iterator[bytes]:
    """_expanded's bytes in pieces, as they are decompressed."""
    for magic, name, decompress in _COMPRESSED:
        if data.startswith(magic):
            try:
                yield from decompress(data)
                return
            except _Damaged as exc:
                raise InputError(path, f"damaged {name} data: {exc}") from None
    yield data


class _Decompressing:
    """A compressed file read and decompressed on a thread of its own, handed on in
    pieces as they come, to one reader: the decompressors let the interpreter lock
    go, so that the pieces are read while the rest is decompressed, and each piece
    is let go once it is handed on."""

    __slots__ = ("_thread", "_pieces", "_done", "_error", "_ready")

    def __init__(self, path: str) -> None:
        import threading  # only runs that read compressed files need it

        self._pieces: list[bytes] = []  # decompressed, not yet handed on
        self._done = False
        self._error: BaseException | None = None
        self._ready = threading.Condition()
        self._thread = threading.Thread(target=self._run, args=(path,), daemon=True)
        self._thread.start()

    def _run(self, path: str) -> None:
        try:
            with open(path, "rb") as stream:
                data = stream.read()
            for piece in _expanded_pieces(data, path):
                with self._ready:
                    self._pieces.append(piece)
                    self._ready.notify()
        except BaseException as exc:  # raised where the pieces are asked for
            self._error = exc
        finally:
            with self._ready:
                self._done = True
                self._ready.notify()

    def pieces(self) -> Iterator[bytes]:
        """Every piece, in order, each as soon as it is there."""
        while True:
            with self._ready:
                while not self._pieces and not self._done:
                    self._ready.wait()
                new, self._pieces = self._pieces, []
                done = self._done
            yield from new
            del new
            if done:
                if self._error is not None:
                    raise self._error
                return

    def result(self) -> bytes:
        pieces = list(self.pieces())
        return pieces[0] if len(pieces) == 1 else b"".join(pieces)


_AHEAD: dict[str, _Decompressing] = {}  # by path, until read


class DecompressedAhead:
    """For the time of a with block, a compressed input file is decompressed on
    a thread of its own from the start, ready for the read of it in the block."""

    __slots__ = ("path",)

    def __init__(self, path: str) -> None:
        self.path = path

    def __enter__(self) -> None:
        if self.path == "-" or self.path in _AHEAD:
            return
        try:
            with open(self.path, "rb") as stream:
                compressed = _is_compressed(stream.read(_MAGIC_BYTES))
        except OSError:  # the read says what is wrong
            return
        if compressed:
            _AHEAD[self.path] = _Decompressing(self.path)

    def __exit__(self, *exc_info: object) -> None:
        _AHEAD.pop(self.path, None)


class _FileBytes:
    """The bytes of an input file, decompressed, for the time of a with block;
    '-' is standard input, read once.

    A plain file of a megabyte or more is mapped and the mapping handed on as it
    is: reading it into a bytes object first would copy the file and fault in the
    fresh memory of that copy; a smaller one is read, which costs less than
    mapping it. A compressed file is read (it is the smaller) and decompressed.
    """

    __slots__ = ("path", "_ahead", "_stream", "_view")

    def __init__(self, path: str, ahead: _Decompressing | None = None) -> None:
        self.path = path
        self._ahead = ahead  # the file, being decompressed already
        self._stream: BufferedReader | None = None
        self._view: mmap.mmap | None = None

    def __enter__(self) -> bytes | mmap.mmap:
        try:
            if self.path == "-":
                return _expanded(sys.stdin.buffer.read(), self.path)
            if self._ahead is not None:
                return self._ahead.result()
            self._stream = open(self.path, "rb")
            if _is_compressed(self._stream.peek(_MAGIC_BYTES)):
                return _expanded(self._stream.read(), self.path)
            if os.fstat(self._stream.fileno()).st_size >= _MAP_AT_LEAST:
                self._view = _map(self._stream)
            return self._view if self._view is not None else self._stream.read()
        except BaseException as exc:
            self.__exit__()
            if isinstance(exc, OSError):
                raise InputError(self.path, exc.strerror or str(exc)) from None
            raise

    def __exit__(self, *exc_info: object) -> None:
        if self._view is not None:
            self._view.close()
        if self._stream is not None:
            self._stream.close()


def ready_heap_for(paths: Iterable[str]) -> None:
    """Readies the heap, in a process that reads one locus and ends, for the records of
    the files: as large as the files, grown once and in huge pages where the system can.
    Fresh memory then faults in far fewer times while the records are made."""
    expected = 0
    for path in paths:
        try:
            expected += os.stat(path).st_size if path != "-" else 0
        except OSError:  # the reader says what is wrong with it
            pass
    grow_heap_for(expected)


def _read_records(path: str, in_format: str, plain_letters: bytes | None,
                  frameshift_digits: bool = False) -> tuple[str, list[Record], list[int] | None]:
    """(format, records, indices of records with letters not in plain_letters, or
    with frameshift_digits of those holding frameshift digits)."""
    ahead = _AHEAD.pop(path, None)
    if ahead is not None and in_format == "fasta" and not frameshift_digits:
        return _read_fasta_in_pieces(path, ahead, plain_letters)
    with _FileBytes(path, ahead) as data:
        try:
            return read_records(data, in_format, plain_letters, frameshift_digits)
        except ValueError as exc:  # the reader's one-line message, naming line and record
            raise InputError(path, str(exc)) from None


def _read_fasta_in_pieces(path: str, ahead: _Decompressing, plain_letters: bytes | None
                          ) -> tuple[str, list[Record], list[int] | None]:
    """_read_records of FASTA being decompressed, read a run of whole records at a
    time as the pieces come. Text the reader refuses is read again whole from the
    file, so that its message names the line and record in the whole file."""
    records: list[Record] = []
    marked: list[int] | None = None if plain_letters is None else []

    def read(text: bytes | memoryview) -> None:
        _, more, more_marked = read_records(text, "fasta", plain_letters)
        if marked is not None:
            marked.extend(len(records) + index for index in more_marked)
        records.extend(more)

    try:
        rest = b""  # the start of a record the pieces so far end inside of
        for piece in ahead.pieces():
            end = piece.rfind(b"\n>") + 1  # where the piece's last record starts
            if end == 0:
                rest += piece
                continue
            start = piece.find(b"\n>") + 1 if rest else 0
            if rest:  # the record across the cut, put together: a copy of it alone
                read(rest + piece[:start])
            if start < end:
                read(memoryview(piece)[start:end])
            rest = piece[end:]
        if rest or not records:
            read(rest)
    except OSError as exc:
        raise InputError(path, exc.strerror or str(exc)) from None
    except ValueError:  # read again from the file: the pieces read are gone
        with _FileBytes(path) as data:
            try:
                return read_records(data, "fasta", plain_letters)
            except ValueError as exc:
                raise InputError(path, str(exc)) from None
    return "fasta", records, marked


def _decoded_text(data: bytes | mmap.mmap, path: str) -> str:
    if data[:3] == _BYTE_ORDER_MARK:
        data = data[3:]
    try:
        text = str(data, "utf-8")
    except UnicodeDecodeError as exc:
        raise InputError(path, f"not UTF-8 text ({exc.reason} at byte {exc.start})") from None
    if "\r" in text:
        text = text.replace("\r\n", "\n").replace("\r", "\n")
    return text


def read_text(path: str) -> str:
    """The whole file as text, line ends made '\\n' as in text mode; '-' is standard input."""
    with _FileBytes(path) as data:
        return _decoded_text(data, path)


def read_fasta(path: str) -> list[Record]:
    """Records of a FASTA file ('-' is standard input): identifier, letters."""
    return _read_records(path, "fasta", None)[1]


def read_fasta_marked(path: str, letters: bytes) -> Marked:
    """read_fasta's records, and the indices of those that hold more than letters.

    The reader looks at every letter as it copies it, so that a later look at
    what else the records hold can skip those made only of letters.
    """
    _, records, marked = _read_records(path, "fasta", letters)
    assert marked is not None
    return records, marked


def read_alignment(path: str, in_format: str) -> list[Record]:
    """Records of an alignment file, FASTA, CLUSTAL or PHYLIP ('auto': known by its first line),
    with PAL2NAL's frameshift digits inside rows spread over their columns."""
    _, records, holding = _read_records(path, in_format, None, True)
    return expand_frameshift_digits(records, holding) if holding else records


def _chunks(row: str, width: int) -> Iterator[str]:
    for start in range(0, len(row), width):
        yield row[start:start + width]


def fasta_lines(records: Iterable[Record], wrap: int) -> Iterator[str]:
    for ident, row in records:
        yield f">{ident}\n"
        if wrap > 0 and row:
            yield "\n".join(_chunks(row, wrap)) + "\n"
        else:
            yield row + "\n"


def phylip_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Relaxed sequential PHYLIP: names of any length, one taxon per line."""
    width = max((len(ident) for ident, _ in records), default=0)
    yield f"{len(records)} {ncols}\n"
    for ident, row in records:
        yield f"{ident.ljust(width)}  {row}\n"


def paml_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Sequential format as codeml reads it: a name line, then the sequence."""
    yield f"  {len(records)}  {ncols}\n\n"
    for ident, row in records:
        yield f"{ident}\n"
        yield "\n".join(_chunks(row, BLOCK_WIDTH)) + "\n\n"


def clustal_lines(records: list[Record], ncols: int, version: str) -> Iterator[str]:
    yield f"CLUSTAL multiple sequence alignment (ntpepmap {version})\n\n"
    width = max((len(ident) for ident, _ in records), default=0) + 6
    for start in range(0, ncols, BLOCK_WIDTH):
        yield "\n"
        for ident, row in records:
            yield f"{ident.ljust(width)}{row[start:start + BLOCK_WIDTH]}\n"


def alignment_lines(records: list[Record], ncols: int, out_format: str,
                    wrap: int, version: str) -> Iterator[str]:
    if out_format == "fasta":
        return fasta_lines(records, wrap)
    if out_format == "phylip":
        return phylip_lines(records, ncols)
    if out_format == "paml":
        return paml_lines(records, ncols)
    return clustal_lines(records, ncols, version)


def default_extension(out_format: str) -> str:
    return {"fasta": ".fasta", "phylip": ".phy", "paml": ".paml", "clustal": ".aln"}[out_format]
