"""Worker processes that take tasks one at a time and stop cleanly on demand.

Each worker is forked with a pipe of its own for task numbers and one for
results, and runs its tasks in the order given, so the main process knows at
every moment which task each worker runs: a worker that dies costs only that
task, and a stop can say which tasks finished. Workers ignore Ctrl-C, which a
terminal sends to the whole process group; the main process stops them with
SIGTERM, which makes a worker unwind (removing a half-written output) and exit.

Plain fork and pipes, not multiprocessing: a batch of small loci would spend a
noticeable share of its time importing it. A task is a number; a result crosses
whole as its state (its __getstate__, of builtins alone), in marshal's format, and
the main process rebuilds it with __setstate__: pickle would look its classes up
by name for every result.
"""

from __future__ import annotations

import gc
import marshal
import os
import select
import signal
import sys
import time
from collections import deque

from ..interrupts import STOP_SIGNALS, StopGuard, StopRequest, exit_status, stop_signals_held

TYPE_CHECKING = False  # typing itself costs a batch noticeable start-up time
if TYPE_CHECKING:
    from collections.abc import Callable, Iterable, Iterator
    from typing import Any

    Work = Callable[[int], Any]  # a task number's result, whose state marshal carries

STOP_GRACE_SECONDS = 5.0

# Tasks a worker holds at once: the next waits in its pipe while it runs one, so
# it never idles while the main process takes a result in.
TASKS_AHEAD = 2

_WORD = 4  # bytes of a task number, and of a result's length before the result
_READ_SIZE = 1 << 16


class WorkerDied:
    """Stands for the result of a task whose worker ended without giving one."""

    def __init__(self, pid: int | None, exitcode: int | None) -> None:
        self.pid = pid
        self.exitcode = exitcode

    def __str__(self) -> str:
        code = self.exitcode or 0
        if code < 0 or code > 128:  # killed by a signal, or stopped by one (128 + signal)
            return f"the worker process was stopped by {signal.Signals(abs(code) % 128).name}"
        return f"the worker process ended with status {self.exitcode}"


def _exitcode(wait_status: int) -> int:
    """The exit status, or minus the signal that killed the process."""
    if os.WIFSIGNALED(wait_status):
        return -os.WTERMSIG(wait_status)
    return os.waitstatus_to_exitcode(wait_status)


def _write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


def _next_task(fd: int) -> int | None:
    """The next task number; None once the main process has closed the pipe."""
    word = b""
    while len(word) < _WORD:
        part = os.read(fd, _WORD - len(word))
        if not part:
            return None
        word += part
    return int.from_bytes(word, "little")


def _serve(tasks_fd: int, results_fd: int, work: Work, guard: StopGuard) -> int:
    """Runs tasks until the pipe closes; the worker's exit status. guard: the one the work
    tells when its output is in place."""
    signal.set_wakeup_fd(-1)  # the main process's, inherited through fork
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    guard.raise_on((signal.SIGTERM,))
    try:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, STOP_SIGNALS)
        while True:
            task = _next_task(tasks_fd)
            if task is None:
                return 0
            # Its state in marshal's format: -3.7 % of a batch's instructions against pickle.
            result = marshal.dumps(work(task).__getstate__())
            with stop_signals_held():  # a result is sent whole or not at all
                _write_all(results_fd, len(result).to_bytes(_WORD, "little") + result)
            guard.result_sent()
    except KeyboardInterrupt as stop:
        return exit_status(stop)
    except OSError:
        return 0  # the main process is gone


class _Worker:
    """A forked worker as the main process sees it: its pipes and its tasks in order."""

    def __init__(self, pid: int, tasks_fd: int, results_fd: int, result_type: type[Any]) -> None:
        self.pid = pid
        self.result_type = result_type
        self.tasks_fd = tasks_fd
        self.results_fd = results_fd
        self.tasks: deque[int] = deque()
        self.received = bytearray()  # results not yet taken, possibly the start of one
        self.exitcode: int | None = None

    def give(self, task: int) -> None:
        self.tasks.append(task)
        try:
            os.write(self.tasks_fd, task.to_bytes(_WORD, "little"))
        except OSError:  # it died: the end of its results pipe tells the rest
            pass

    def receive(self) -> bool:
        """Reads what the worker sent; False once it has ended and sent all."""
        data = os.read(self.results_fd, _READ_SIZE)
        self.received += data
        return bool(data)

    def finished(self) -> list[tuple[int, object]]:
        """The tasks whose results have arrived whole, oldest first, with their results."""
        received, done, start = self.received, [], 0
        while self.tasks and len(received) - start >= _WORD:
            end = start + _WORD + int.from_bytes(received[start:start + _WORD], "little")
            if len(received) < end:
                break
            result = object.__new__(self.result_type)  # as unpickling makes it
            result.__setstate__(marshal.loads(received[start + _WORD:end]))
            done.append((self.tasks.popleft(), result))
            start = end
        del received[:start]
        return done

    def reap(self) -> None:
        """Waits for its end and collects its exit status."""
        if self.exitcode is None:
            self.exitcode = _exitcode(os.waitpid(self.pid, 0)[1])

    def died(self) -> tuple[int, object]:
        """Its oldest task, cut short by its end."""
        self.reap()
        return self.tasks.popleft(), WorkerDied(self.pid, self.exitcode)

    def close(self) -> None:
        for fd in (self.tasks_fd, self.results_fd):
            try:
                os.close(fd)
            except OSError:
                pass


class WorkerPool:
    """Up to `count` forked processes running `work` on task numbers; work must return
    a result_type, whose __getstate__ marshal can carry, rather than raise. guard: the
    run's, which each worker takes on for its SIGTERM."""

    def __init__(self, count: int, work: Work, guard: StopGuard, result_type: type[Any]) -> None:
        self._work = work
        self._result_type = result_type
        self._guard = guard
        self._workers: list[_Worker] = []
        self._poll = select.poll()
        for _ in range(count):
            self._spawn()

    def _spawn(self) -> None:
        tasks_read, tasks_write = os.pipe()
        results_read, results_write = os.pipe()
        # The objects made so far stay as they are: a collection in the worker would
        # otherwise touch, and so copy, every page that holds them.
        gc.freeze()
        for stream in (sys.stdout, sys.stderr):  # what is buffered must not be written twice
            try:
                if stream is not None:
                    stream.flush()
            except (OSError, ValueError):
                pass
        with stop_signals_held():  # until it has its own handlers
            pid = os.fork()
            if pid == 0:
                self._run_worker(tasks_read, tasks_write, results_read, results_write)
        os.close(tasks_read)
        os.close(results_write)
        self._workers.append(_Worker(pid, tasks_write, results_read, self._result_type))
        self._poll.register(results_read, select.POLLIN)

    def _run_worker(self, tasks_read: int, tasks_write: int, results_read: int,
                    results_write: int) -> None:
        """The forked child: serves tasks and ends, never returning into the caller."""
        status = 1
        try:
            # The other ends, and other workers' pipes: held open here, they would
            # hide from a worker that its tasks ended, and from the main process
            # that this one did.
            for worker in self._workers:
                worker.close()
            os.close(tasks_write)
            os.close(results_read)
            status = _serve(tasks_read, results_write, self._work, self._guard)
        except BaseException:
            import traceback

            traceback.print_exc()
            sys.stderr.flush()
        finally:
            os._exit(status)

    def results(self, tasks: Iterable[int], stop: StopRequest) -> Iterator[tuple[int, object]]:
        """Each task with its result (or WorkerDied), in the order they finish.

        Raises Interrupted, between two results, once stop has noted a signal.
        """
        waiting = deque(tasks)
        self._poll.register(stop.fd, select.POLLIN)
        try:
            while waiting or any(worker.tasks for worker in self._workers):
                stop.check()
                for worker in self._workers:
                    while waiting and len(worker.tasks) < TASKS_AHEAD:
                        worker.give(waiting.popleft())
                ready = self._ready(stop)
                stop.check()  # a worker that ended with the stop signal did not fail its task
                for worker in ready:
                    ended = not worker.receive()
                    yield from worker.finished()
                    if ended:
                        if worker.tasks:
                            yield worker.died()
                        self._replace(worker, waiting)
        finally:
            self._poll.unregister(stop.fd)  # before the stop request closes it

    def _ready(self, stop: StopRequest) -> list[_Worker]:
        by_fd = {worker.results_fd: worker for worker in self._workers}
        ready = [fd for fd, _ in self._poll.poll()]
        if stop.fd in ready:
            stop.drain()
        return [by_fd[fd] for fd in ready if fd in by_fd]

    def _replace(self, dead: _Worker, waiting: deque[int]) -> None:
        """Puts the tasks a dead worker never started back in line, and a new worker in its
        place when there is work left."""
        waiting.extendleft(reversed(dead.tasks))
        dead.tasks.clear()
        dead.reap()
        self._poll.unregister(dead.results_fd)
        dead.close()
        self._workers.remove(dead)
        if waiting:
            self._spawn()

    def close(self) -> None:
        """Lets the workers finish; call when results() is exhausted."""
        for worker in self._workers:
            os.close(worker.tasks_fd)
        for worker in self._workers:
            worker.reap()
            os.close(worker.results_fd)
        self._workers = []

    def stop(self) -> list[tuple[int, object]]:
        """Ends every worker now; returns the tasks they finished or had started, with their
        results (WorkerDied for those stopped before the end). Tasks never started are left out."""
        workers, self._workers = self._workers, []
        for worker in workers:
            os.kill(worker.pid, signal.SIGTERM)  # not yet reaped: the pid is still its own
        _receive_until_ended(workers, time.monotonic() + STOP_GRACE_SECONDS)
        held = []
        for worker in workers:  # what each sent, then its task cut short, if any
            held += worker.finished()
            if worker.tasks:
                held.append(worker.died())
        for worker in workers:
            worker.close()
        return held


def _receive_until_ended(workers: list[_Worker], deadline: float) -> None:
    """Takes in what the workers send until each has ended (its pipe closes); one still
    running at the deadline is stuck in native code, where no cleanup is possible, and killed."""
    running = {worker.results_fd: worker for worker in workers}
    killed = False
    while running:
        timeout = None if killed else max(0.0, deadline - time.monotonic())
        readable = select.select(list(running), [], [], timeout)[0]
        if not readable and not killed:
            for worker in running.values():
                os.kill(worker.pid, signal.SIGKILL)  # not yet reaped: the pid is still its own
            killed = True
        for fd in readable:
            if not running[fd].receive():
                del running[fd]
    for worker in workers:
        worker.reap()
