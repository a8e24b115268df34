"""Worker processes that take tasks one at a time and stop cleanly on demand.

Each worker has a pipe of its own, so the main process knows at every moment
which task each worker holds: a worker that dies costs only its task, and a
stop can say which tasks finished. Workers ignore Ctrl-C, which a terminal
sends to the whole process group; the main process stops them with SIGTERM,
which makes a worker unwind (removing a half-written output) and exit.
"""

from __future__ import annotations

import multiprocessing
import signal
import time
from collections import deque
from multiprocessing.connection import Connection, wait
from typing import (Any, Callable, Dict, Generic, Iterable, Iterator, List, Optional, Tuple,
                    TypeVar)

from .interrupts import (STOP_SIGNALS, StopRequest, exit_status, raise_on_stop_signals,
                         stop_signals_held, task_told)

Task = TypeVar("Task")
Result = TypeVar("Result")

STOP_GRACE_SECONDS = 5.0


class WorkerDied:
    """Stands for the result of a task whose worker ended without giving one."""

    def __init__(self, pid: Optional[int], exitcode: Optional[int]) -> None:
        self.pid = pid
        self.exitcode = exitcode

    def __str__(self) -> str:
        code = self.exitcode or 0
        if code < 0 or code > 128:  # killed by a signal, or stopped by one (128 + signal)
            return f"the worker process was stopped by {signal.Signals(abs(code) % 128).name}"
        return f"the worker process ended with status {self.exitcode}"


def _serve(conn: Connection, work: Callable[[Task], Result]) -> None:
    signal.set_wakeup_fd(-1)  # the main process's, inherited through fork
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    raise_on_stop_signals((signal.SIGTERM,))
    try:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, STOP_SIGNALS)
        while True:
            task = conn.recv()
            if task is None:
                return
            result = work(task)
            with stop_signals_held():  # a result is sent whole or not at all
                conn.send(result)
            task_told()
    except KeyboardInterrupt as stop:
        raise SystemExit(exit_status(stop)) from None
    except (EOFError, OSError):
        return  # the main process is gone


class _Worker(Generic[Task]):
    def __init__(self, context: multiprocessing.context.DefaultContext,
                 work: Callable[[Task], object]) -> None:
        self.conn, theirs = context.Pipe()
        self.process = context.Process(target=_serve, args=(theirs, work), daemon=True)
        with stop_signals_held():  # until it has its own handlers
            self.process.start()
        theirs.close()
        self.task: Optional[Task] = None

    def give(self, task: Task) -> None:
        self.task = task
        try:
            self.conn.send(task)
        except OSError:  # it died: its sentinel tells the rest
            pass

    def take(self) -> object:
        """The result of its task; WorkerDied if it ended without one."""
        try:
            if self.conn.poll():
                return self.conn.recv()
        except (EOFError, OSError):
            pass
        self.process.join()
        return WorkerDied(self.process.pid, self.process.exitcode)


class WorkerPool(Generic[Task, Result]):
    """Up to `count` processes running `work`, which must return rather than raise."""

    def __init__(self, count: int, work: Callable[[Task], Result]) -> None:
        self._context: multiprocessing.context.DefaultContext = multiprocessing.get_context()
        self._work = work
        self._idle: List[_Worker[Task]] = [self._spawn() for _ in range(count)]
        self._busy: Dict[Connection, _Worker[Task]] = {}

    def _spawn(self) -> _Worker[Task]:
        return _Worker(self._context, self._work)

    def results(self, tasks: Iterable[Task],
                stop: StopRequest) -> Iterator[Tuple[Task, object]]:
        """Each task with its result (or WorkerDied), in the order they finish.

        Raises Interrupted, between two results, once stop has noted a signal.
        """
        waiting = deque(tasks)
        while waiting or self._busy:
            stop.check()
            while waiting and self._idle:
                worker = self._idle.pop()
                worker.give(waiting.popleft())
                self._busy[worker.conn] = worker
            ready = self._ready(stop.fd)
            stop.check()  # a worker that ended with the stop signal did not fail its task
            for worker in ready:
                yield worker.task, self._retire(worker, bool(waiting))  # type: ignore[misc]

    def _retire(self, worker: _Worker[Task], more_to_do: bool) -> object:
        result = worker.take()
        del self._busy[worker.conn]
        if not isinstance(result, WorkerDied):
            self._idle.append(worker)
        else:
            worker.conn.close()
            if more_to_do:
                self._idle.append(self._spawn())
        return result

    def _ready(self, wake_fd: int) -> List[_Worker[Task]]:
        by_handle: Dict[Any, _Worker[Task]] = {}  # connections and process sentinels
        for conn, worker in self._busy.items():
            by_handle[conn] = worker
            by_handle[worker.process.sentinel] = worker
        ready = wait([*by_handle, wake_fd])
        workers = (by_handle[handle] for handle in ready if handle != wake_fd)
        return list({id(worker): worker for worker in workers}.values())

    def close(self) -> None:
        """Lets idle workers finish; call when results() is exhausted."""
        for worker in self._idle:
            try:
                worker.conn.send(None)
            except OSError:
                pass
        for worker in self._idle:
            worker.process.join()
            worker.conn.close()
        self._idle = []

    def stop(self) -> List[Tuple[Task, object]]:
        """Ends every worker now; returns the tasks they held, with their results (WorkerDied
        for those stopped before the end)."""
        workers = self._idle + list(self._busy.values())
        for worker in workers:
            if worker.process.is_alive():
                worker.process.terminate()
        deadline = time.monotonic() + STOP_GRACE_SECONDS
        for worker in workers:
            worker.process.join(max(0.0, deadline - time.monotonic()))
            if worker.process.is_alive():  # stuck in native code: no cleanup is possible
                worker.process.kill()
                worker.process.join()
        finished = [(worker.task, worker.take()) for worker in self._busy.values()]
        for worker in workers:
            worker.conn.close()
        self._idle, self._busy = [], {}
        return [(task, result) for task, result in finished if task is not None]
