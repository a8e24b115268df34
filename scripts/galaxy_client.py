"""The two steps of scripts/galaxy_test.sh that talk to its Galaxy or read what it said.

    python scripts/galaxy_client.py user URL ADMIN_KEY   # makes the tests' user, prints its key
    python scripts/galaxy_client.py report REPORT.json TOOL.xml
        # prints 'N passed, N failed' and exits 1 unless every test of TOOL.xml passed
"""

from __future__ import annotations

import json
import secrets
import sys
import urllib.request
import xml.etree.ElementTree as ET


def call(url: str, key: str, payload: dict[str, str] | None = None) -> object:
    request = urllib.request.Request(url, data=json.dumps(payload or {}).encode(), method="POST",
                                     headers={"x-api-key": key,
                                              "content-type": "application/json"})
    with urllib.request.urlopen(request, timeout=60) as answer:
        return json.load(answer)


def make_user(url: str, admin_key: str) -> int:
    user = call(f"{url}/api/users", admin_key,
                {"username": "wrapper-tests", "email": "wrapper-tests@localhost.test",
                 "password": secrets.token_hex(16)})
    assert isinstance(user, dict), user
    print(call(f"{url}/api/users/{user['id']}/api_key", admin_key))
    return 0


def check_report(report_path: str, tool_path: str) -> int:
    """Every test the wrapper has must have run and passed: a test Galaxy skipped or never
    ran is a failure too."""
    with open(report_path, encoding="utf-8") as report:
        tests = json.load(report)["tests"]
    statuses = [test.get("data", {}).get("status") for test in tests]
    wanted = len(ET.parse(tool_path).getroot().findall("tests/test"))
    passed = statuses.count("success")
    failed = wanted - passed
    for test, status in zip(tests, statuses):
        if status != "success":
            print(f"{test.get('id')}: {status}", file=sys.stderr)
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and len(tests) == wanted else 1


if __name__ == "__main__":
    steps = {"user": make_user, "report": check_report}
    sys.exit(steps[sys.argv[1]](*sys.argv[2:4]))
