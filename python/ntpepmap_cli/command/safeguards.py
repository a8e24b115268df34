"""Refusing, before any work, outputs that would overwrite an input or each other.

Paths are compared resolved (links, '..', relative spellings) and files by
identity (device and inode), which also catches hard links and a folder
reached by two mounts.
"""

from __future__ import annotations

import os
import stat
from collections.abc import Iterable

from ..errors import InputError

STDIN = "-"
Identity = tuple[int, int]
# Options that name a file to read, as argparse stores them.
_INPUT_OPTIONS = ("gene_table", "id_map", "kept_columns")


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


# Paths in one folder after which it is listed once: a file that is not there (an
# output still to be written) then costs no lookup of its own.
_LIST_AFTER = 8


class _Folder:
    """A folder as resolved, and once listed, the names in it."""

    __slots__ = ("prefix", "lookups", "names")

    def __init__(self, resolved: str) -> None:
        self.prefix = resolved if resolved.endswith(os.sep) else resolved + os.sep
        self.lookups = 0
        self.names: set[str] | None = None

    def may_hold(self, name: str) -> bool:
        """False only when the listing says name is not there."""
        if self.names is None:
            self.lookups += 1
            if self.lookups != _LIST_AFTER:
                return True
            try:
                self.names = set(os.listdir(self.prefix))
            except OSError:  # unreadable: each file is looked up
                return True
        return name in self.names


def _split(path: str) -> tuple[str, str]:
    """os.path.split for the common case, without its cost per call."""
    if os.altsep:
        return os.path.split(path)
    folder, sep, name = path.rpartition(os.sep)
    return (folder or sep), name


class _Resolver:
    """Resolved paths and identities, each folder resolved once, and at most one lstat a
    file: a batch has thousands of files in a few folders."""

    def __init__(self) -> None:
        self._folders: dict[str, _Folder] = {}

    def _folder(self, name: str) -> _Folder:
        folder = self._folders.get(name)
        if folder is None:
            folder = self._folders[name] = _Folder(os.path.realpath(name or os.curdir))
        return folder

    def path(self, path: str) -> str:
        """The path with its folder resolved; the file itself may be a link."""
        folder, name = _split(path)
        if name in ("", ".", ".."):
            return os.path.realpath(path)
        return self._folder(folder).prefix + name

    def __call__(self, path: str) -> tuple[str, Identity | None]:
        """The path resolved, through a link too, and the identity of the file if it is there."""
        folder_name, name = _split(path)
        if name in ("", ".", ".."):
            return os.path.realpath(path), _identity_of(path)
        folder = self._folder(folder_name)
        resolved = folder.prefix + name
        if not folder.may_hold(name):
            return resolved, None
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
    resolved_outputs = [(path, *resolve(path)) for path in outputs]
    # Only a file that is there has an identity to share with an input: while no
    # output exists, the inputs are compared by path alone, and cost no lookup.
    by_identity = stdout_is_output or any(identity is not None for _, _, identity in resolved_outputs)
    read = _Places()
    for path in inputs:
        if path == STDIN:
            identity = _file_identity_of_fd(0)
            if identity is not None:
                read.add("standard input", None, identity)
        else:
            read.add(path, resolve.path(path), _identity_of(path) if by_identity else None)
    if stdout_is_output:
        found = read.find(None, _file_identity_of_fd(1))
        if found is not None:
            raise InputError("standard output", f"redirected onto the input {found}; "
                                                f"nothing done")
    folders = _ListedFolders(listed_folders, resolve)
    written = _Places()
    for path, resolved, identity in resolved_outputs:
        _refuse_clash(path, read.find(resolved, identity), written.find(resolved, identity),
                      folders.holding(_split(resolved)[0]))
        written.add(path, resolved, identity)


def _refuse_clash(path: str, input_file: str | None, other_output: str | None,
                  folder: str | None) -> None:
    if input_file is not None:
        raise InputError(path, f"would overwrite the input {input_file}; nothing done")
    if other_output is not None:
        raise InputError(path, f"the same file as the output {other_output}; nothing done")
    if folder is not None:
        raise InputError(path, f"inside {folder}, which is read for inputs; nothing done")
