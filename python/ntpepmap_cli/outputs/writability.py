"""Trying, before any work, that every output can be written where it goes."""

from __future__ import annotations

import errno
import os
import stat
from collections.abc import Iterable

from ..errors import InputError
from ..interrupts import stop_signals_held
from .atomic_files import STDOUT, _create_temporary, _target_of


def check_writable(paths: Iterable[str], folders_of: Iterable[str] = ()) -> None:
    """Raises InputError for the first output that could not be written: a folder in its
    place (paths), a file where its folder should be, a folder that takes no new file
    (tried: permissions do not tell, for root or on a read-only mount). folders_of: outputs
    whose folder alone is tried (a batch's thousands). A folder still to be made is tried
    at its nearest existing parent."""
    tried: dict[str, OSError | None] = {}
    by_folder = {os.path.dirname(path): path for path in folders_of if path != STDOUT}
    for path in paths:
        if path == STDOUT:
            continue
        target, old = _target_of(path)
        if old is not None and stat.S_ISDIR(old.st_mode):
            raise InputError(path, "a folder; not written")
        by_folder[os.path.dirname(target)] = path
    for folder, path in by_folder.items():
        existing = _existing_folder(os.path.realpath(folder or os.curdir))
        if existing not in tried:
            tried[existing] = _creation_failure(existing)
        failure = tried[existing]
        if failure is not None and not _written_in_place(path):
            raise InputError(path, f"{failure.strerror or failure} ({existing}); nothing done")


def _written_in_place(path: str) -> bool:
    """Whether path is a device or pipe (-o /dev/null), opened as it is: no file is made
    beside it."""
    old = _target_of(path)[1]
    return old is not None and not stat.S_ISREG(old.st_mode)


def _existing_folder(folder: str) -> str:
    """folder, or its nearest parent that exists (the folders between are made on writing)."""
    while not os.path.lexists(folder):
        parent = os.path.dirname(folder)
        if parent == folder:
            break
        folder = parent
    return folder


def _creation_failure(folder: str) -> OSError | None:
    """Why a file cannot be created in folder, None if one can."""
    if not os.path.isdir(folder):
        return NotADirectoryError(errno.ENOTDIR, "not a folder")
    with stop_signals_held():  # made and removed before a signal can end the run
        try:
            fd, probe = _create_temporary(os.path.join(folder, ".ntpepmap-probe"))
        except OSError as exc:
            return exc
        os.close(fd)
        os.unlink(probe)
    return None
