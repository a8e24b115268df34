"""Reading sequence files.

An input file is opened once (InputFile) and read as bytes: a read-only
mapping of a plain file (no copy), or the content of a gzip, bzip2 or xz file,
known by its first bytes and not by its name, in pieces as it is decompressed.
A gzip file is handed to the native reader as it is, where the reader inflates
it itself (built with ISA-L): the next block inflates on a thread of its own
while the text before it is read, without the interpreter lock.
The tool's native reader turns those bytes into records, FASTA, CLUSTAL, PHYLIP,
Stockholm or NEXUS (FASTA a run of whole records at a time as the pieces come), and says
in one line where a file is not what it should be.
"""

from __future__ import annotations

import errno
import mmap
import os
import stat
import sys
from collections.abc import Callable, Iterator
from io import BufferedReader

from .. import _native
from .._native import RecordSet
from ..errors import InputError, out_of_memory

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

Record = tuple[str, str]  # (identifier, sequence)
Marked = tuple[list[Record], list[int]]  # records, and indices of records to look at

IN_FORMATS = ("auto", *_native.IN_FORMATS)  # every format the reader knows

_MAP_POPULATE = getattr(mmap, "MAP_POPULATE", 0)  # Linux: map all pages in one go
# A smaller file is read faster than mapped: a batch locus's 40 KB in 23 µs rather than 38.
_MAP_AT_LEAST = 1 << 20
_BYTE_ORDER_MARK = b"\xef\xbb\xbf"


def _map(stream: BufferedReader) -> mmap.mmap | None:
    """A read-only mapping of an open file, or None where it cannot be mapped."""
    try:
        return mmap.mmap(stream.fileno(), 0, flags=mmap.MAP_SHARED | _MAP_POPULATE,
                         prot=mmap.PROT_READ)
    except (OSError, ValueError):  # empty, or a pipe or device
        return None


class _Damaged(Exception):
    """Compressed data that cannot be decompressed; the message says why."""


_PIECE = 4 << 20  # bytes of decompressed text handed on at a time
_MOST_EXPANSION = 8
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


def _streams(data: bytes, decompressor: Callable[[], Any]) -> Iterator[bytes]:
    """Every stream of bzip2 or xz data, one after the other (as their tools write them), in
    pieces of at most _PIECE bytes: the bound on a file's text stops it piece by piece."""
    while data:
        inflater = decompressor()
        piece = inflater.decompress(data, _PIECE)
        while True:
            if piece:
                yield piece
            if inflater.eof:
                break
            if inflater.needs_input:
                raise _Damaged(_TRUNCATED)
            piece = inflater.decompress(b"", _PIECE)
        data = inflater.unused_data.lstrip(b"\0")


def _bunzip2(data: bytes) -> Iterator[bytes]:
    import bz2

    try:
        yield from _streams(data, bz2.BZ2Decompressor)
    except (OSError, EOFError, ValueError) as exc:
        raise _Damaged(str(exc)) from None


def _unxz(data: bytes) -> Iterator[bytes]:
    import lzma

    try:
        yield from _streams(data, lzma.LZMADecompressor)
    except (lzma.LZMAError, EOFError) as exc:
        raise _Damaged(str(exc)) from None


# First bytes of each compressed format, its name in messages and its decompressor, which
# gives the decompressed bytes in pieces as they come.
_COMPRESSED = ((b"\x1f\x8b", "gzip", _gunzipped_pieces), (b"BZh", "bzip2", _bunzip2),
               (b"\xfd7zXZ\x00", "xz", _unxz))


_MAGIC_BYTES = max(len(magic) for magic, _, _ in _COMPRESSED)


def _is_compressed(head: bytes) -> bool:
    return any(head.startswith(magic) for magic, _, _ in _COMPRESSED)


_GZIP_INFLATED_NATIVELY = _native.gzip_inflated_here()


def _inflated_natively(head: bytes) -> bool:
    """Whether the native reader inflates data of these first bytes itself."""
    return _GZIP_INFLATED_NATIVELY and head.startswith(_COMPRESSED[0][0])


def _expanded_pieces(data: bytes, path: str) -> Iterator[bytes]:
    """The decompressed bytes of compressed data, in pieces as they are decompressed, up to
    the native reader's bound on a compressed file's text (a decompression bomb stops there)."""
    most = _native.most_inflated_bytes()
    inflated = 0
    for magic, name, decompress in _COMPRESSED:
        if data.startswith(magic):
            try:
                for piece in decompress(data):
                    inflated += len(piece)
                    if inflated > most:
                        raise InputError(path, _native.inflated_too_far(most))
                    yield piece
                return
            except _Damaged as exc:
                raise InputError(path, f"damaged {name} data: {exc}") from None


class _Decompressing:
    """A compressed file read and decompressed on a thread of its own, handed on in
    pieces as they come, to one reader: the decompressors let the interpreter lock
    go, so that the pieces are read while the rest is decompressed, and each piece
    is let go once it is handed on."""

    __slots__ = ("_thread", "_pieces", "_done", "_stopped", "_error", "_ready", "expected_size")

    def __init__(self, source: BufferedReader | bytes, path: str) -> None:
        import threading  # only runs that read compressed files need it

        # About the most the text can be: sequence text compresses 3 to 5 times; what the
        # reader reserves for it and never writes costs address space only.
        compressed = len(source) if isinstance(source, bytes) else os.fstat(source.fileno()).st_size
        self.expected_size = _MOST_EXPANSION * compressed
        self._pieces: list[bytes] = []  # decompressed, not yet handed on
        self._done = False
        self._stopped = False
        self._error: BaseException | None = None
        self._ready = threading.Condition()
        self._thread = threading.Thread(target=self._run, args=(source, path), daemon=True)
        self._thread.start()

    def _run(self, source: BufferedReader | bytes, path: str) -> None:
        try:
            if not isinstance(source, bytes):  # the open file, read here and closed
                with source:
                    source = source.read()
            for piece in _expanded_pieces(source, path):
                with self._ready:
                    if self._stopped:
                        return
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

    def stop(self) -> None:
        """No more pieces are wanted: the thread ends at the next one."""
        with self._ready:
            self._stopped = True
            self._pieces = []


def _open_file(path: str) -> int:
    return os.open(path, os.O_RDONLY)  # not inherited by child processes, as open()'s


def _small_file(fd: int, path: str) -> bytes | None:
    """The whole content of an open plain file under _MAP_AT_LEAST bytes, read through its
    descriptor alone: a batch locus's file in 4 system calls rather than 11 through a
    buffered file (-2.8 % of a batch's instructions; with writing through the descriptor,
    -4.8 % and 3-13 % of its CPU time); None for another file."""
    status = os.fstat(fd)
    if stat.S_ISDIR(status.st_mode):  # refused as open() refuses it
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if not stat.S_ISREG(status.st_mode) or status.st_size >= _MAP_AT_LEAST:
        return None
    data = os.read(fd, status.st_size + 1)
    if len(data) <= status.st_size:  # a plain file reads short only at its end
        return data
    pieces = [data]  # it grew since
    while piece := os.read(fd, _MAP_AT_LEAST):
        pieces.append(piece)
    return b"".join(pieces)


class InputFile:
    """An input file opened once, for the time of a with block; '-' is standard input.

    A compressed file (gzip, bzip2 or xz, known by its first bytes, not its name) is
    decompressed on a thread of its own from the moment it is opened and read in pieces
    as they come: a locus opens its CDS file, the larger, before it reads the alignment.
    A gzip file that the native reader inflates itself is read as a plain file is, and
    inflated as it is read. A plain file of a megabyte or more is mapped and the mapping read as it is: reading
    it into a bytes object first would copy the file and fault in the fresh memory of
    that copy; a smaller one is read, which costs less than mapping it. A file that
    cannot be opened is said so when it is read, so that the faults of a locus's inputs
    are told in the order the inputs are read.
    """

    __slots__ = ("path", "_stream", "_view", "_data", "_decompressing", "_gzip", "_error")

    def __init__(self, path: str) -> None:
        self.path = path
        self._stream: BufferedReader | None = None
        self._view: mmap.mmap | None = None
        self._data: bytes | mmap.mmap | None = None
        self._decompressing: _Decompressing | None = None
        self._gzip = False  # read as a plain file, inflated by the native reader
        self._error: InputError | None = None

    def __enter__(self) -> InputFile:
        try:
            self._open()
        except OSError as exc:
            self._error = InputError(self.path, exc.strerror or str(exc))
        return self

    def _hold(self, data: bytes) -> None:
        """Content read whole already: kept as it is (gzip, where the native reader inflates
        it), or decompressed on a thread of its own."""
        self._gzip = _inflated_natively(data[:_MAGIC_BYTES])
        if _is_compressed(data[:_MAGIC_BYTES]) and not self._gzip:
            self._decompressing = _Decompressing(data, self.path)
        else:
            self._data = data

    def _open(self) -> None:
        if self.path == "-":
            self._hold(sys.stdin.buffer.read())
            return
        fd = _open_file(self.path)
        try:
            data = _small_file(fd, self.path)
        except BaseException:
            os.close(fd)
            raise
        if data is not None:
            os.close(fd)
            self._hold(data)
            return
        self._stream = open(fd, "rb")
        head = self._stream.peek(_MAGIC_BYTES)
        self._gzip = _inflated_natively(head)
        if _is_compressed(head) and not self._gzip:
            stream, self._stream = self._stream, None  # the thread reads it and closes it
            self._decompressing = _Decompressing(stream, self.path)

    def __exit__(self, *exc_info: object) -> None:
        if self._decompressing is not None:
            self._decompressing.stop()
        if self._view is not None:
            self._view.close()
        if self._stream is not None:
            self._stream.close()

    def _content(self) -> bytes | mmap.mmap | Iterator[bytes]:
        """The file's bytes, or their pieces as they are decompressed."""
        if self._error is not None:
            raise self._error
        if self._decompressing is not None:
            return self._decompressing.pieces()
        if self._data is None:
            assert self._stream is not None
            if os.fstat(self._stream.fileno()).st_size >= _MAP_AT_LEAST:
                self._view = _map(self._stream)
            self._data = self._view if self._view is not None else self._stream.read()
        return self._data

    def read(self, in_format: str, plain_letters: bytes | None = None,
             frameshift_digits: bool = False, into: RecordSet | None = None,
             room: int = 0) -> Reading:
        """The file's records in a format ('auto': known by its first line); see Reading.
        frameshift_digits: a protein alignment's, with PAL2NAL's frameshift digits. into: a
        set of other files' records that this file's are appended to (and its Reading's);
        room: bytes to reserve in the set for this file and those still to come."""
        expected = self._decompressing.expected_size if self._decompressing is not None else room
        try:
            return _reading(_native.read_records(self._content(), in_format, plain_letters,
                                                 frameshift_digits, expected, into),
                            frameshift_digits)
        except ValueError as exc:  # the reader's one-line message, naming line and record
            raise InputError(self.path, str(exc)) from None
        except OSError as exc:
            raise InputError(self.path, exc.strerror or str(exc)) from None
        except MemoryError:
            raise out_of_memory(self.path) from None

    def text(self) -> str:
        """The whole file as text, line ends made '\\n' as in text mode."""
        try:
            content = self._content()
            if self._gzip:
                content = _expanded_pieces(bytes(content), self.path)
            if not isinstance(content, (bytes, mmap.mmap)):
                content = b"".join(content)
        except OSError as exc:
            raise InputError(self.path, exc.strerror or str(exc)) from None
        return _decoded_text(content, self.path)


class Reading:
    """What a reading of a file gives: its format, its records (a native RecordSet, every
    record's whole header line among them: FASTA: what follows '>'; CLUSTAL and PHYLIP: the
    name), the indices of the records marked as asked (letters not in the plain set or,
    reading frameshift digits, none: they are spread as read), and the columns a CLUSTAL
    file's lines of '#' mark to keep."""

    __slots__ = ("format", "records", "marked", "kept")

    def __init__(self, format: str, records: RecordSet, marked: list[int] | None = None,
                 kept: list[int] | None = None) -> None:
        self.format = format
        self.records = records
        self.marked = marked    # None unless plain letters were given
        self.kept = kept        # None without lines of '#'

    @property
    def headers(self) -> list[str]:
        return self.records.headers()


def _reading(records: RecordSet, frameshift_digits: bool) -> Reading:
    """A native reading as a Reading; a protein alignment's, whose marked records hold
    frameshift digits, with each digit spread over its columns, and the columns its lines of
    '#' mark spread alike."""
    reading = Reading(records.format, records, records.marked, records.kept)
    if frameshift_digits:
        holding, reading.marked = reading.marked, None
        if holding:
            from .frameshift_digits import expand_frameshift_digits, spread_columns

            # only the records holding digits are fetched, unless a digit above 3 widens every row
            held = {index: (records.identifier(index), records.sequence(index)) for index in holding}
            if reading.kept is not None:
                reading.kept = spread_columns(reading.kept, held, holding)
            widened = expand_frameshift_digits(held, holding, records.records)
            if widened is not None:
                reading.records = RecordSet.from_records(widened, records.headers())
    return reading


def read_records(path: str, in_format: str, plain_letters: bytes | None = None,
                 frameshift_digits: bool = False, into: RecordSet | None = None,
                 room: int = 0) -> Reading:
    """The records of a file ('-' is standard input) in a format ('auto': known by its first
    line); into and room: see InputFile.read."""
    with InputFile(path) as opened:
        return opened.read(in_format, plain_letters, frameshift_digits, into, room)


def read_content(data: bytes, name: str, in_format: str, plain_letters: bytes | None = None,
                 frameshift_digits: bool = False) -> Reading:
    """read_records of content read already (an open file handed to the Python API),
    decompressed when its first bytes say so; name: what messages call it."""
    head = data[:_MAGIC_BYTES]
    content = _expanded_pieces(data, name) if _is_compressed(head) and not _inflated_natively(head) else data
    try:
        return _reading(_native.read_records(content, in_format, plain_letters, frameshift_digits),
                        frameshift_digits)
    except ValueError as exc:  # the reader's one-line message, naming line and record
        raise InputError(name, str(exc)) from None


def read_locus_files(pep_path: str, cds_path: str, in_format: str,
                     cds_letters: bytes) -> tuple[Reading, Reading]:
    """A locus's alignment and CDS file. The CDS file is opened first: a compressed one
    inflated in Python is decompressed while the alignment is read."""
    with InputFile(cds_path) as cds:
        proteins = read_records(pep_path, in_format, frameshift_digits=True)
        return proteins, cds.read("fasta", cds_letters)


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
    with InputFile(path) as opened:
        return opened.text()


def read_fasta_marked(path: str, letters: bytes) -> Marked:
    """Records of a FASTA file ('-' is standard input), and the indices of those that
    hold more than letters.

    The reader looks at every letter as it copies it, so that a later look at
    what else the records hold can skip those made only of letters.
    """
    reading = read_records(path, "fasta", letters)
    assert reading.marked is not None
    return reading.records.records(), reading.marked


def read_alignment(path: str, in_format: str) -> list[Record]:
    """Records of an alignment file, FASTA, CLUSTAL or PHYLIP ('auto': known by its first line),
    with PAL2NAL's frameshift digits inside rows spread over their columns."""
    return read_records(path, in_format, frameshift_digits=True).records.records()


def read_alignment_blocks(path: str, in_format: str) -> tuple[list[Record], list[int] | None]:
    """read_alignment's records, and the columns (0-based) that lines of '#' under
    CLUSTAL blocks mark to keep; None for a file without them."""
    reading = read_records(path, in_format, frameshift_digits=True)
    return reading.records.records(), reading.kept
