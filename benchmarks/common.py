"""Timing, output capture and table printing shared by the benchmark scripts."""
from __future__ import annotations

import contextlib
import gc
import os
import platform
import re
import subprocess
import sys
import tempfile
import time
from typing import Callable, Iterator, Sequence


@contextlib.contextmanager
def fd1_redirected(target_fd: int) -> Iterator[None]:
    """Points file descriptor 1 at target_fd: the module writes its reports
    there directly, past sys.stdout."""
    sys.stdout.flush()
    saved = os.dup(1)
    try:
        os.dup2(target_fd, 1)
        yield
    finally:
        os.dup2(saved, 1)
        os.close(saved)


@contextlib.contextmanager
def fd1_silenced() -> Iterator[None]:
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        with fd1_redirected(devnull):
            yield
    finally:
        os.close(devnull)


def call_capturing_fd1(function: Callable[[], object]) -> tuple[object, str]:
    with tempfile.TemporaryFile() as sink:
        with fd1_redirected(sink.fileno()):
            result = function()
        sink.seek(0)
        return result, sink.read().decode("utf-8", "replace")


class CacheEvictor:
    """Writes one byte of every cache line of a buffer larger than the last-level
    cache, so that the next call finds its input in memory, not in cache: a
    small input is then timed as a large one is, and as a first call would be."""

    LINE = 64

    def __init__(self, size: int = 96 << 20):
        self.buffer = bytearray(size)
        self.lines = len(self.buffer[::self.LINE])
        self.value = 0

    def __call__(self) -> None:
        self.value = (self.value + 1) % 256
        self.buffer[::self.LINE] = bytes([self.value]) * self.lines


def interleaved_seconds(functions: dict[str, Callable[[], object]], repeat: int,
                        before_each: Callable[[], None] | None = None) -> dict[str, list[float]]:
    """Wall times of repeat rounds in which every function runs once, in turn,
    so that all of them meet the same load from whatever else runs here.
    before_each runs untimed before every call."""
    times: dict[str, list[float]] = {name: [] for name in functions}
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            for name, function in functions.items():
                if before_each:
                    before_each()
                start = time.perf_counter()
                result = function()
                times[name].append(time.perf_counter() - start)
                del result
    finally:
        if enabled:
            gc.enable()
    return times


def machine_description() -> str:
    model = platform.processor() or platform.machine()
    with contextlib.suppress(OSError):
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    memory = ""
    with contextlib.suppress(OSError, ValueError):
        pages = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
        memory = f", {pages / 2**30:.0f} GiB"
    return (f"{model}, {os.cpu_count()} cores{memory}; {platform.system()} "
            f"{platform.release()}; Python {platform.python_version()}")


def print_table(header: Sequence[str], rows: Sequence[Sequence[str]], out=sys.stdout) -> None:
    """A Markdown table, columns padded so that it also reads as plain text."""
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

    print(line(header), file=out)
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|", file=out)
    for row in rows:
        print(line(row), file=out)
    out.flush()


def verdict(ok: bool) -> str:
    return "met" if ok else "MISSED"


def count_instructions(argv: Sequence[str], scratch: str | os.PathLike[str]) -> int:
    """The instructions valgrind's callgrind counts over one run of argv, children
    included: unlike time, the load on the machine does not move it. Its profiles
    are written to scratch and removed."""
    done = subprocess.run(["valgrind", "--tool=callgrind", "--trace-children=yes",
                           f"--callgrind-out-file={os.path.join(scratch, 'callgrind.%p')}", *argv],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=False)
    for name in os.listdir(scratch):
        if name.startswith("callgrind."):
            os.unlink(os.path.join(scratch, name))
    return sum(int(count.replace(",", ""))
               for count in re.findall(r"Collected : ([\d,]+)", done.stderr))
