"""The source distribution: built by the project's own backend from a checkout that holds
build trees, environments and fuzzing corpora, it carries the sources and none of those."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

try:
    import tomllib
except ImportError:  # Python < 3.11; pytest depends on tomli there
    import tomli as tomllib

REPOSITORY = Path(__file__).resolve().parent.parent

# A file planted in the checkout, and the part of the tree the sdist must leave out.
PLANTED = [
    (".venv/pyvenv.cfg", ".venv/"),
    ("venv/bin/python", "venv/"),
    (".tox/py311/pyvenv.cfg", ".tox/"),
    ("build/native-checks/CMakeCache.txt", "build/"),
    ("build-asan/CMakeFiles/core.dir/iupac.cpp.o", "build-asan/"),
    ("_skbuild/linux-x86_64/CMakeCache.txt", "_skbuild/"),
    ("dist/ntpepmap-0.0.0.tar.gz", "dist/"),
    ("fuzz/corpus/iupac/planted-seed", "fuzz/corpus/"),
    ("python/ntpepmap_cli/__pycache__/cli.cpython-311.pyc", "python/ntpepmap_cli/__pycache__/"),
    ("python/ntpepmap_cli/_native.cpython-311-x86_64-linux-gnu.so", "python/ntpepmap_cli/_native.cpython"),
]


def _without_sanitizer(environment: dict[str, str]) -> dict[str, str]:
    return {name: value for name, value in environment.items() if name != "LD_PRELOAD"}


def _backend(directory: Path) -> Path:
    """The build requirements, installed apart as a build frontend would."""
    with open(REPOSITORY / "pyproject.toml", "rb") as pyproject:
        requires = tomllib.load(pyproject)["build-system"]["requires"]
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
                    "--target", str(directory), *requires],
                   check=True, capture_output=True, text=True, env=_without_sanitizer(dict(os.environ)))
    return directory


def _checkout_copy(directory: Path) -> Path:
    shutil.copytree(REPOSITORY, directory, ignore=shutil.ignore_patterns(".git", ".venv", "build", "dist"))
    for planted, _ in PLANTED:
        (directory / planted).parent.mkdir(parents=True, exist_ok=True)
        (directory / planted).write_text("planted\n")
    return directory


@pytest.fixture(scope="module")
def checkout_and_members(tmp_path_factory) -> tuple[Path, set[str]]:
    work = tmp_path_factory.mktemp("sdist")
    backend = _backend(work / "backend")
    checkout = _checkout_copy(work / "checkout")
    environment = _without_sanitizer(dict(os.environ, PYTHONPATH=str(backend)))
    built = subprocess.run(
        [sys.executable, "-c", "import sys; from scikit_build_core.build import build_sdist; "
                               "print(build_sdist(sys.argv[1]))", str(work / "out")],
        cwd=checkout, check=True, capture_output=True, text=True, env=environment)
    with tarfile.open(work / "out" / built.stdout.split()[-1]) as archive:
        names = archive.getnames()
    return checkout, {name.split("/", 1)[1] for name in names if "/" in name}


@pytest.mark.parametrize(("planted", "left_out"), PLANTED, ids=[left_out for _, left_out in PLANTED])
def test_sdist_leaves_out_builds_environments_and_corpora(checkout_and_members, planted, left_out):
    _, members = checkout_and_members
    assert not [member for member in members if member.startswith(left_out)]


def test_sdist_carries_every_source_file(checkout_and_members):
    checkout, members = checkout_and_members
    needed = {"LICENSE", "README.md", "pyproject.toml", "CMakeLists.txt"}
    for folder in ("src", "python", "tests"):
        needed |= {path.relative_to(checkout).as_posix() for path in (checkout / folder).rglob("*")
                   if path.is_file() and "__pycache__" not in path.parts and path.suffix != ".so"}
    assert needed - members == set()
