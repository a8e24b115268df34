"""Capturing what native code writes to file descriptor 1.

The module prints its record reports straight to the process's standard
output, bypassing sys.stdout; left alone they would end up inside an
alignment written to standard output.
"""

from __future__ import annotations

import ctypes
import os
import sys
import tempfile
from contextlib import contextmanager
from typing import Iterator, List

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


@contextmanager
def captured_fd1(box: List[str]) -> Iterator[None]:
    """Appends to box, after the block, the text written to fd 1 inside it."""
    sys.stdout.flush()
    _flush_c_stdio()
    with tempfile.TemporaryFile() as sink:
        saved = os.dup(1)
        try:
            os.dup2(sink.fileno(), 1)
            yield
        finally:
            _flush_c_stdio()
            os.dup2(saved, 1)
            os.close(saved)
            # Read even when the call raised: reports printed before an abort count.
            sink.seek(0)
            box.append(sink.read().decode("utf-8", errors="replace"))
