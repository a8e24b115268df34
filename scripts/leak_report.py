"""Reads LeakSanitizer logs; fails on a leak whose allocation stack passes through ntpepmap.

    python scripts/leak_report.py LOG_DIRECTORY ROUNDS
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

LEAK = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\) allocated from:\n((?:\s+#.*\n?)+)",
                  re.MULTILINE)


def leaks(text: str):
    for match in LEAK.finditer(text):
        yield match.group(1), int(match.group(2)), int(match.group(3)), match.group(4)


def main() -> int:
    directory, rounds = Path(sys.argv[1]), int(sys.argv[2])
    logs = sorted(directory.glob("lsan*"))
    text = "".join(path.read_text(errors="replace") for path in logs)
    if "ERROR: AddressSanitizer" in text or "runtime error:" in text:
        print(text)
        print("leakcheck: a memory error, not a leak: see above")
        return 1
    ours = [leak for leak in leaks(text) if "ntpepmap" in leak[3]]
    theirs = [leak for leak in leaks(text) if "ntpepmap" not in leak[3]]
    print(f"leakcheck: {rounds} rounds; interpreter leaks at exit: {len(theirs)} "
          f"({sum(size for _, size, _, _ in theirs)} bytes); through ntpepmap: {len(ours)}")
    for kind, size, count, stack in ours:
        print(f"{kind} leak of {size} bytes in {count} objects:\n{stack}")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
