"""Worker processes that take tasks one at a time and stop cleanly on demand.

Each worker has a pipe of its own and runs its tasks in the order given, so
the main process knows at every moment which task each worker runs: a worker
that dies costs only that task, and a stop can say which tasks finished. Workers ignore Ctrl-C, which a terminal
sends to the whole process group; the main process stops them with SIGTERM,
which makes a worker unwind (removing a half-written output) and exit.
"""

from __future__ import annotations

import multiprocessing
import signal
import time
from collections import deque
from multiprocessing.connection import Connection, wait
from typing import (Any, Callable, Deque, Dict, Generic, Iterable, Iterator, List, Optional,
                    Tuple, TypeVar)

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


# Tasks a worker holds at once: the next waits in its pipe while it runs one, so
# it never idles while the main process takes a result in.
TASKS_AHEAD = 2


class _Worker(Generic[Task]):
    def __init__(self, context: multiprocessing.context.DefaultContext,
                 work: Callable[[Task], object]) -> None:
        self.conn, theirs = context.Pipe()
        self.process = context.Process(target=_serve, args=(theirs, work), daemon=True)
        with stop_signals_held():  # until it has its own handlers
            self.process.start()
        theirs.close()
        self.tasks: Deque[Task] = deque()  # in the order it runs them

    def give(self, task: Task) -> None:
        self.tasks.append(task)
        try:
            self.conn.send(task)
        except OSError:  # it died: its sentinel tells the rest
            pass

    def take(self) -> Tuple[Task, object]:
        """Its oldest task with its result; WorkerDied if it ended without one."""
        task = self.tasks.popleft()
        try:
            if self.conn.poll():
                return task, self.conn.recv()
        except (EOFError, OSError):
            pass
        self.process.join()
        return task, WorkerDied(self.process.pid, self.process.exitcode)


class WorkerPool(Generic[Task, Result]):
    """Up to `count` processes running `work`, which must return rather than raise."""

    def __init__(self, count: int, work: Callable[[Task], Result]) -> None:
        self._context: multiprocessing.context.DefaultContext = multiprocessing.get_context()
        self._work = work
        self._workers: List[_Worker[Task]] = [self._spawn() for _ in range(count)]

    def _spawn(self) -> _Worker[Task]:
        return _Worker(self._context, self._work)

    def results(self, tasks: Iterable[Task],
                stop: StopRequest) -> Iterator[Tuple[Task, object]]:
        """Each task with its result (or WorkerDied), in the order they finish.

        Raises Interrupted, between two results, once stop has noted a signal.
        """
        waiting = deque(tasks)
        while waiting or any(worker.tasks for worker in self._workers):
            stop.check()
            for worker in self._workers:
                while waiting and len(worker.tasks) < TASKS_AHEAD:
                    worker.give(waiting.popleft())
            ready = self._ready(stop.fd)
            stop.check()  # a worker that ended with the stop signal did not fail its task
            for worker in ready:
                task, result = worker.take()
                if isinstance(result, WorkerDied):
                    self._replace(worker, waiting)
                yield task, result

    def _replace(self, dead: _Worker[Task], waiting: Deque[Task]) -> None:
        """Puts the tasks a dead worker never started back in line, and a new worker in its
        place when there is work left."""
        waiting.extendleft(reversed(dead.tasks))
        dead.tasks.clear()
        dead.conn.close()
        self._workers.remove(dead)
        if waiting:
            self._workers.append(self._spawn())

    def _ready(self, wake_fd: int) -> List[_Worker[Task]]:
        by_handle: Dict[Any, _Worker[Task]] = {}  # connections and process sentinels
        for worker in self._workers:
            if worker.tasks:
                by_handle[worker.conn] = worker
                by_handle[worker.process.sentinel] = worker
        ready = wait([*by_handle, wake_fd])
        workers = (by_handle[handle] for handle in ready if handle != wake_fd)
        return list({id(worker): worker for worker in workers}.values())

    def close(self) -> None:
        """Lets the workers finish; call when results() is exhausted."""
        for worker in self._workers:
            try:
                worker.conn.send(None)
            except OSError:
                pass
        for worker in self._workers:
            worker.process.join()
            worker.conn.close()
        self._workers = []

    def stop(self) -> List[Tuple[Task, object]]:
        """Ends every worker now; returns the tasks they finished or had started, with their
        results (WorkerDied for those stopped before the end). Tasks never started are left out."""
        workers = self._workers
        for worker in workers:
            if worker.process.is_alive():
                worker.process.terminate()
        deadline = time.monotonic() + STOP_GRACE_SECONDS
        for worker in workers:
            worker.process.join(max(0.0, deadline - time.monotonic()))
            if worker.process.is_alive():  # stuck in native code: no cleanup is possible
                worker.process.kill()
                worker.process.join()
        held = [result for worker in workers for result in _results_held(worker)]
        for worker in workers:
            worker.conn.close()
        self._workers = []
        return held


def _results_held(worker: _Worker[Task]) -> Iterator[Tuple[Task, object]]:
    """The results a stopped worker sent, then its task cut short, if any."""
    while worker.tasks:
        task, result = worker.take()
        yield task, result
        if isinstance(result, WorkerDied):
            return
