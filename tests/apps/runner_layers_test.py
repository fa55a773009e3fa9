#!/usr/bin/env python3
"""The runner's stage folders include only the folders below them.

Usage: runner_layers_test.py SOURCE_DIR. Prints each upward include and
exits 1 when there is one.
"""
import pathlib
import re
import sys

# From the bottom up: a folder may include itself and what comes before it.
ORDER = ["base", "media", "overlay", "pipeline", "plan", "cli", "edit", "run"]
INCLUDE = re.compile(r'#include "apps/quillmere/(\w+)/')


def main():
    runner = pathlib.Path(sys.argv[1]) / "apps" / "quillmere"
    rank = {folder: index for index, folder in enumerate(ORDER)}
    missing = [folder for folder in ORDER if not (runner / folder).is_dir()]
    if missing:
        print("no such stage folder: " + ", ".join(missing))
        return 1
    upward = []
    for path in sorted(runner.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(runner).parts[0]
        if folder not in rank:
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = INCLUDE.match(line)
            if match and rank.get(match.group(1), -1) > rank[folder]:
                upward.append(f"{path.relative_to(runner)}:{number}: {line.strip()}")
    for line in upward:
        print("includes a stage above it: " + line)
    return 1 if upward else 0


if __name__ == "__main__":
    sys.exit(main())
