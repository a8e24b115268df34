"""Capturing what native code writes to file descriptor 1.

The module prints its record reports straight to the process's standard
output, bypassing sys.stdout; left alone they would end up inside an
alignment written to standard output.
"""

from __future__ import annotations

import ctypes
import os
import sys
from collections.abc import Iterator
from contextlib import contextmanager

try:
    _LIBC: ctypes.CDLL | None = ctypes.CDLL(None)
except OSError:  # no C library handle on this platform: nothing to flush through
    _LIBC = None


def _flush_c_stdio() -> None:
    # Native code that prints through C stdio sees a redirected stdout as fully
    # buffered: flush before fd 1 is switched back, or the tail of its output
    # lands in the real stdout.
    if _LIBC is not None:
        _LIBC.fflush(None)


def _anonymous_file() -> int:
    """A descriptor of a nameless read-write file; memfd spares importing tempfile."""
    if hasattr(os, "memfd_create"):
        try:
            return os.memfd_create("ntpepmap-reports", os.MFD_CLOEXEC)
        except OSError:  # a kernel without memfd: fall through
            pass
    import tempfile

    with tempfile.TemporaryFile() as sink:
        return os.dup(sink.fileno())  # the duplicate keeps the file alive


def _read_from_start(fd: int) -> bytes:
    os.lseek(fd, 0, os.SEEK_SET)
    with open(fd, "rb", closefd=False) as stream:
        return stream.read()


@contextmanager
def captured_fd1(box: list[str]) -> Iterator[None]:
    """Appends to box, after the block, the text written to fd 1 inside it."""
    sys.stdout.flush()
    _flush_c_stdio()
    sink = _anonymous_file()
    try:
        saved = os.dup(1)
        try:
            os.dup2(sink, 1)
            yield
        finally:
            _flush_c_stdio()
            os.dup2(saved, 1)
            os.close(saved)
            # Read even when the call raised: reports printed before an abort count.
            box.append(_read_from_start(sink).decode("utf-8", errors="replace"))
    finally:
        os.close(sink)
