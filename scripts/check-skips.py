#!/usr/bin/env python3
"""Fails when ctest's JUnit report names a test that did not run (skipped by the
test itself, disabled, or not run for another reason) and that is not allowed.

    check-skips.py REPORT.xml [ALLOWED_TEST_NAME ...]

Prints every test that did not run; exit status 1 when one of them is not allowed
or the report holds no test at all, 2 when the report cannot be read."""
import sys
import xml.etree.ElementTree as ElementTree


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    report, allowed = argv[1], set(argv[2:])
    try:
        root = ElementTree.parse(report).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print(f"check-skips: cannot read {report}: {error}", file=sys.stderr)
        return 2
    cases = list(root.iter("testcase"))
    if not cases:
        print(f"check-skips: {report} names no test", file=sys.stderr)
        return 1
    not_run = []
    for case in cases:
        status = case.get("status", "")
        if status in ("run", "fail") and case.find("skipped") is None:
            continue
        not_run.append((case.get("name", "?"), status))
    unexpected = [name for name, _ in not_run if name not in allowed]
    for name, status in not_run:
        verdict = "allowed" if name in allowed else "NOT ALLOWED"
        print(f"check-skips: {name} did not run ({status}), {verdict}")
    print(f"check-skips: {len(cases)} tests in {report}, {len(not_run)} did not run, "
          f"{len(unexpected)} of them not allowed")
    return 1 if unexpected else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
