"""Timing, output capture and table printing shared by the benchmark scripts."""
from __future__ import annotations

import contextlib
import gc
import os
import platform
import statistics
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


def median_seconds(function: Callable[[], object], repeat: int) -> float:
    """Median wall time of repeat calls, garbage collector off as timeit does;
    each result is dropped before the next call so memory does not pile up."""
    times = []
    enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeat):
            start = time.perf_counter()
            result = function()
            times.append(time.perf_counter() - start)
            del result
    finally:
        if enabled:
            gc.enable()
    return statistics.median(times)


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
