"""Builds and runs the native checks of the C++ core (tests/native/*.cpp)."""

from __future__ import annotations

import functools
import os
import shutil
import subprocess
import sys
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parent.parent
BUILD_DIRECTORY = REPOSITORY / "build" / "native-checks"


def _cmake() -> str:
    for candidate in (Path(sys.executable).parent / "cmake", shutil.which("cmake")):
        if candidate and Path(candidate).exists():
            return str(candidate)
    raise RuntimeError("cmake is needed to build the native checks")


@functools.lru_cache(maxsize=None)
def build_native_checks() -> Path:
    """Configures and builds every native check once per test session."""
    sanitize = os.environ.get("NTPEPMAP_SANITIZE", "")
    build = BUILD_DIRECTORY.with_name(BUILD_DIRECTORY.name + ("-" + sanitize.replace(",", "-") if sanitize else ""))
    configure = [
        _cmake(), "-S", str(REPOSITORY), "-B", str(build),
        "-DNTPEPMAP_NATIVE_TESTS=ON", "-DNTPEPMAP_BUILD_MODULE=OFF", "-DNTPEPMAP_WERROR=ON",
        f"-DNTPEPMAP_SANITIZE={sanitize}", "-DCMAKE_BUILD_TYPE=Release",
    ]
    if shutil.which("ninja") or (Path(sys.executable).parent / "ninja").exists():
        configure += ["-G", "Ninja"]
    subprocess.run(configure, check=True, capture_output=True, text=True)
    subprocess.run([_cmake(), "--build", str(build), "-j2"], check=True, capture_output=True, text=True)
    return build


def run_native_check(name: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([str(build_native_checks() / name)], capture_output=True, text=True, timeout=600)
