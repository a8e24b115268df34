"""Reads memcheck logs; fails on an error or a definite leak whose stack passes through ntpepmap.

    python scripts/valgrind_report.py LOG_DIRECTORY
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

PREFIX = re.compile(r"^==\d+== ?", re.MULTILINE)


def findings(text: str) -> list[str]:
    """Each error or leak record: a headline followed by its stack, up to a blank line."""
    blocks = PREFIX.sub("", text).split("\n\n")
    return [block.strip() for block in blocks if re.search(r"^\s+(at|by) 0x", block, re.MULTILINE)]


def main() -> int:
    text = "".join(path.read_text(errors="replace") for path in sorted(Path(sys.argv[1]).glob("*.log")))
    every = findings(text)
    ours = [block for block in every if "ntpepmap" in block]
    print(f"memcheck: {len(every)} findings in all, {len(ours)} through ntpepmap")
    for block in ours:
        print(block, end="\n\n")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
