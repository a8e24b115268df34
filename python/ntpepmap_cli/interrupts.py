"""SIGINT and SIGTERM as an exception, so that every output is cleaned up on the way out.

The default SIGTERM action ends the process on the spot, leaving a
temporary file behind; raised as an exception, it unwinds like Ctrl-C.
A loop that must account for everything it started takes them as a
StopRequest instead, and stops at a point of its choosing. Both come from
the run's one StopGuard, which holds the little state there is.
"""

from __future__ import annotations

import os
from collections.abc import Iterator
from contextlib import contextmanager

# The signal module's functions without its enum classes, whose making costs a small
# run 3 % of its instructions; signal itself is imported to name a signal that came.
import _signal

TYPE_CHECKING = False  # not typing's: importing typing would slow the start-up
if TYPE_CHECKING:
    from types import FrameType

STOP_SIGNALS = (_signal.SIGINT, _signal.SIGTERM)


class Interrupted(KeyboardInterrupt):
    """A stop signal arrived; status is the shell's exit status for it (128 + signal)."""

    def __init__(self, signum: int) -> None:
        import signal

        self.signal_name = signal.Signals(signum).name
        super().__init__(self.signal_name)
        self.status = 128 + signum


def exit_status(stop: KeyboardInterrupt) -> int:
    return stop.status if isinstance(stop, Interrupted) else 128 + _signal.SIGINT


def signal_name(stop: KeyboardInterrupt) -> str:
    return stop.signal_name if isinstance(stop, Interrupted) else "SIGINT"


class StopGuard:
    """The run's stop signals, made where the run starts and handed to what writes outputs
    and runs tasks: raised as Interrupted, except once the current task's output is in
    place, when a signal waits until the task's result has been passed on."""

    def __init__(self) -> None:
        self._output_in_place = False
        self._waiting_signal = 0

    def raise_on(self, signals: tuple[int, ...] = STOP_SIGNALS) -> None:
        for stop_signal in signals:
            _signal.signal(stop_signal, self._raise_interrupted)

    def _raise_interrupted(self, signum: int, frame: FrameType | None) -> None:
        # Further signals while the first unwinds would only interrupt the cleanup.
        for stop_signal in STOP_SIGNALS:
            _signal.signal(stop_signal, _signal.SIG_IGN)
        if self._output_in_place:  # stopping now would only hide that it was written
            self._waiting_signal = signum
            return
        raise Interrupted(signum)

    def output_in_place(self) -> None:
        """Marks the task as done in substance: a stop signal waits for result_sent()."""
        self._output_in_place = True

    def result_sent(self) -> None:
        """The task's result has been passed on; raises the stop signal that waited for that."""
        signum, self._waiting_signal, self._output_in_place = self._waiting_signal, 0, False
        if signum:
            raise Interrupted(signum)

    def noted(self) -> StopRequest:
        """For a loop that must account for everything it started: the signals noted inside
        the block, not raised, and raised by its check() at a point of the loop's choosing."""
        return StopRequest()


@contextmanager
def stop_signals_held() -> Iterator[None]:
    """Holds SIGINT and SIGTERM back inside the block; one that came meanwhile arrives after it."""
    previous = _signal.pthread_sigmask(_signal.SIG_BLOCK, STOP_SIGNALS)
    try:
        yield
    finally:
        _signal.pthread_sigmask(_signal.SIG_SETMASK, previous)


class StopRequest:
    """SIGINT and SIGTERM noted, not raised, inside its block; check() raises them.

    fd becomes readable when a signal arrives, so that a loop waiting on
    other descriptors wakes up for it.
    """

    def __init__(self) -> None:
        self.signum = 0
        self.fd, self._wake = os.pipe()
        os.set_blocking(self.fd, False)
        os.set_blocking(self._wake, False)
        self._previous: list[object] = []
        self._previous_wakeup = -1

    def _note(self, signum: int, frame: FrameType | None) -> None:
        self.signum = self.signum or signum

    def check(self) -> None:
        if self.signum:
            raise Interrupted(self.signum)

    def drain(self) -> None:
        """Empties fd once it has woken a wait, so that it wakes the next one only for a
        new signal."""
        try:
            while os.read(self.fd, 64):
                pass
        except BlockingIOError:
            pass

    def __enter__(self) -> StopRequest:
        self._previous = [_signal.signal(stop_signal, self._note) for stop_signal in STOP_SIGNALS]
        self._previous_wakeup = _signal.set_wakeup_fd(self._wake, warn_on_full_buffer=False)
        return self

    def __exit__(self, *exc_info: object) -> None:
        _signal.set_wakeup_fd(self._previous_wakeup)
        for stop_signal, handler in zip(STOP_SIGNALS, self._previous):
            _signal.signal(stop_signal, handler)  # type: ignore[arg-type]
        os.close(self.fd)
        os.close(self._wake)
