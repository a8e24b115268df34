"""SIGINT and SIGTERM as an exception, so that every output is cleaned up on the way out.

The default SIGTERM action ends the process on the spot, leaving a
temporary file behind; raised as an exception, it unwinds like Ctrl-C.
"""

from __future__ import annotations

import signal
from collections.abc import Iterator
from contextlib import contextmanager
from types import FrameType

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)


class Interrupted(KeyboardInterrupt):
    """A stop signal arrived; status is the shell's exit status for it (128 + signal)."""

    def __init__(self, signum: int) -> None:
        self.signal_name = signal.Signals(signum).name
        super().__init__(self.signal_name)
        self.status = 128 + signum


def exit_status(stop: KeyboardInterrupt) -> int:
    return stop.status if isinstance(stop, Interrupted) else 128 + signal.SIGINT


def signal_name(stop: KeyboardInterrupt) -> str:
    return stop.signal_name if isinstance(stop, Interrupted) else "SIGINT"


def _raise_interrupted(signum: int, frame: FrameType | None) -> None:
    # Further signals while the first unwinds would only interrupt the cleanup.
    for stop_signal in STOP_SIGNALS:
        signal.signal(stop_signal, signal.SIG_IGN)
    raise Interrupted(signum)


def raise_on_stop_signals(signals: tuple[int, ...] = STOP_SIGNALS) -> None:
    for stop_signal in signals:
        signal.signal(stop_signal, _raise_interrupted)


def ignore_stop_signals() -> None:
    for stop_signal in STOP_SIGNALS:
        signal.signal(stop_signal, signal.SIG_IGN)


@contextmanager
def stop_signals_held() -> Iterator[None]:
    """Holds SIGINT and SIGTERM back inside the block; one that came meanwhile arrives after it."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)
