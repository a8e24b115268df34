"""Runs fuzz inputs through a harness outside the fuzzer and prints any failure in full.

    python fuzz/replay.py pepthread build/fuzz/crashes/pepthread-crash-*
"""

from __future__ import annotations

import importlib
import sys
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))


def main() -> int:
    harness = importlib.import_module(f"fuzz_{sys.argv[1]}")
    if hasattr(harness, "capture"):
        import common

        harness.capture = common.StdoutCapture()
    failures = 0
    for path in sys.argv[2:]:
        try:
            harness.test_one_input(Path(path).read_bytes())
        except BaseException:  # noqa: BLE001 - report everything, go on with the next input
            failures += 1
            print(f"== {path}", file=sys.stderr)
            traceback.print_exc()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
