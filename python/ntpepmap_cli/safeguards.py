"""Refusing, before any work, outputs that would overwrite an input or each other.

Paths are compared resolved (links, '..', relative spellings) and files by
identity (device and inode), which also catches hard links and a folder
reached by two mounts.
"""

from __future__ import annotations

import os
import stat
from collections.abc import Iterable

from .errors import InputError

STDIN = "-"
Identity = tuple[int, int]
# Options that name a file to read, as argparse stores them.
_INPUT_OPTIONS = ("gene_table", "id_map")


def option_inputs(args: object) -> list[str]:
    """The files that the run's options name for reading."""
    return [path for path in (getattr(args, name, None) for name in _INPUT_OPTIONS) if path]


def _identity(status: os.stat_result) -> Identity:
    return status.st_dev, status.st_ino


def _identity_of(path: str) -> Identity | None:
    try:
        return _identity(os.stat(path))
    except (OSError, ValueError):  # not there (yet), or not a valid path
        return None


def _file_identity_of_fd(fd: int) -> Identity | None:
    """The identity of what a descriptor is open on, if that is a regular file."""
    try:
        status = os.fstat(fd)
    except OSError:
        return None
    return _identity(status) if stat.S_ISREG(status.st_mode) else None


class _Resolver:
    """Resolved paths and identities, one lstat a file and each folder resolved once:
    a batch has thousands of files in a few folders."""

    def __init__(self) -> None:
        self._folders: dict[str, str] = {}

    def __call__(self, path: str) -> tuple[str, Identity | None]:
        folder, name = os.path.split(path)
        if name in ("", ".", ".."):
            return os.path.realpath(path), _identity_of(path)
        resolved_folder = self._folders.get(folder)
        if resolved_folder is None:
            resolved_folder = self._folders[folder] = os.path.realpath(folder or os.curdir)
        resolved = os.path.join(resolved_folder, name)
        try:
            status = os.lstat(resolved)
        except (OSError, ValueError):  # not there (yet), or not a valid path
            return resolved, None
        if stat.S_ISLNK(status.st_mode):
            return os.path.realpath(resolved), _identity_of(resolved)
        return resolved, _identity(status)


class _Places:
    """Files (or folders) known by resolved path and by identity, each with its name as given."""

    def __init__(self) -> None:
        self.by_path: dict[str, str] = {}
        self.by_identity: dict[Identity, str] = {}

    def add(self, name: str, resolved: str | None, identity: Identity | None) -> None:
        if resolved is not None:
            self.by_path.setdefault(resolved, name)
        if identity is not None:
            self.by_identity.setdefault(identity, name)

    def find(self, resolved: str | None, identity: Identity | None) -> str | None:
        found = None if resolved is None else self.by_path.get(resolved)
        if found is None and identity is not None:
            found = self.by_identity.get(identity)
        return found


class _ListedFolders:
    """Whether a folder is one of the listed folders or lies inside one."""

    def __init__(self, folders: Iterable[str], resolve: _Resolver) -> None:
        self._places = _Places()
        for folder in folders:
            self._places.add(folder, *resolve(folder))
        self._verdicts: dict[str, str | None] = {}

    def holding(self, resolved_folder: str) -> str | None:
        if not self._places.by_path:
            return None
        if resolved_folder not in self._verdicts:
            found = self._places.find(resolved_folder, _identity_of(resolved_folder))
            parent = os.path.dirname(resolved_folder)
            if found is None and parent != resolved_folder:
                found = self.holding(parent)
            self._verdicts[resolved_folder] = found
        return self._verdicts[resolved_folder]


def check_outputs(outputs: Iterable[str], inputs: Iterable[str],
                  listed_folders: Iterable[str] = (), stdout_is_output: bool = False) -> None:
    """Raises InputError for the first output that would overwrite an input or another output,
    or that lies in a folder read for inputs. '-' stands for standard input and output."""
    resolve = _Resolver()
    read = _Places()
    for path in inputs:
        if path == STDIN:
            identity = _file_identity_of_fd(0)
            if identity is not None:
                read.add("standard input", None, identity)
        else:
            read.add(path, *resolve(path))
    if stdout_is_output:
        found = read.find(None, _file_identity_of_fd(1))
        if found is not None:
            raise InputError("standard output", f"redirected onto the input {found}; "
                                                f"nothing done")
    folders = _ListedFolders(listed_folders, resolve)
    written = _Places()
    for path in outputs:
        resolved, identity = resolve(path)
        _refuse_clash(path, read.find(resolved, identity), written.find(resolved, identity),
                      folders.holding(os.path.dirname(resolved)))
        written.add(path, resolved, identity)


def _refuse_clash(path: str, input_file: str | None, other_output: str | None,
                  folder: str | None) -> None:
    if input_file is not None:
        raise InputError(path, f"would overwrite the input {input_file}; nothing done")
    if other_output is not None:
        raise InputError(path, f"the same file as the output {other_output}; nothing done")
    if folder is not None:
        raise InputError(path, f"inside {folder}, which is read for inputs; nothing done")
