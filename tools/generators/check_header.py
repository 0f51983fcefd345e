#!/usr/bin/env python3
"""Checks the public header's attribute block against the catalogue.

The attribute catalogue is the one place an attribute's id, type, access,
channel use and defined values are written; include/TARVEK.h repeats them for
C programmers. This runs `gen_attribute_docs --json` and fails, naming every
disagreement, when a TARVEK_ATTR_* line, its trailing comment
(`/* ViReal64, read-write, per channel */`) or a group of TARVEK_VAL_* values
and the comment introducing it (what takes the values) says something the
catalogue does not.

Usage: check_header.py <gen_attribute_docs> <TARVEK.h>
"""
import json
import os
import re
import subprocess
import sys
import tempfile
from typing import Dict, List, Tuple

ATTR_RE = re.compile(
    r"^#define\s+TARVEK_ATTR_(\w+)\s+(\d+)\s*/\*\s*(Vi\w+)\s*,\s*(read-write|read-only)"
    r"\s*(,\s*per channel\s*)?\*/\s*$")
VAL_RE = re.compile(r"^#define\s+TARVEK_VAL_(\w+)\s+(-?\d+)\s*$")
ACCESS = {"read-write": "RW", "read-only": "R"}


def describe(generator: str) -> dict:
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "catalogue.json")
        subprocess.run([generator, "--json", path], check=True, timeout=120)
        with open(path, encoding="utf-8") as source:
            return json.load(source)


def read_header(text: str) -> Tuple[Dict[str, tuple], List[Tuple[str, list]], List[str]]:
    """The declared attributes, the value groups with the attributes their
    comment names, and the lines that break the conventions."""
    attributes: Dict[str, tuple] = {}
    groups: List[Tuple[str, list]] = []
    problems: List[str] = []
    comment = ""
    current = None
    lines = text.splitlines()
    index = 0
    while index < len(lines):
        line = lines[index].strip()
        if line.startswith("/*") and not line.startswith("/*-"):
            block = line
            while "*/" not in block and index + 1 < len(lines):
                index += 1
                block += " " + lines[index].strip().lstrip("*").strip()
            comment = re.sub(r"^/\*|\*/$", "", block).strip()
            current = None
        elif line.startswith("#define TARVEK_ATTR_"):
            match = ATTR_RE.match(line)
            if not match:
                problems.append(f"attribute define without a type comment: {line}")
            else:
                name, ident, vitype, access, channel = match.groups()
                if name in attributes:
                    problems.append(f"TARVEK_ATTR_{name} is defined twice")
                attributes[name] = (int(ident), vitype, ACCESS[access], channel is not None)
        elif line.startswith("#define TARVEK_VAL_"):
            match = VAL_RE.match(line)
            if not match:
                problems.append(f"malformed defined value: {line}")
            else:
                if current is None:
                    current = (comment, [])
                    groups.append(current)
                current[1].append((f"TARVEK_VAL_{match.group(1)}", int(match.group(2))))
        elif line == "":
            current = None
        index += 1
    return attributes, groups, problems


def disagreements(description: dict, text: str) -> List[str]:
    declared, groups, problems = read_header(text)
    catalogue = {row["name"]: row for row in description["attributes"]}
    for name in sorted(set(catalogue) - set(declared)):
        problems.append(f"TARVEK_ATTR_{name} is in the catalogue but not in the header")
    for name in sorted(set(declared) - set(catalogue)):
        problems.append(f"TARVEK_ATTR_{name} is in the header but not in the catalogue")
    for name in sorted(set(declared) & set(catalogue)):
        row = catalogue[name]
        expected = (row["id"], row["type"], row["access"], bool(row["channel"]))
        if declared[name] != expected:
            problems.append(f"TARVEK_ATTR_{name}: the header says {declared[name]}, "
                            f"the catalogue (id, type, access, per channel) {expected}")
    expected_groups = [(group["taken_by"], [(value["name"], value["value"])
                                            for value in group["values"]])
                       for group in description["value_groups"]]
    if groups != expected_groups:
        problems.append(f"the groups of defined values {groups} differ from the catalogue's "
                        f"{expected_groups}")
    named: Dict[str, list] = {}
    for taken_by, values in groups:
        for name in re.findall(r"TARVEK_ATTR_(\w+)", taken_by):
            if name in named:
                problems.append(f"TARVEK_ATTR_{name} is named by two groups of values")
            named[name] = values
    for name, row in sorted(catalogue.items()):
        if row["type"] != "ViInt32":
            continue
        expected = [(value["name"], value["value"]) for value in row["values"] or []]
        if named.get(name, []) != expected:
            problems.append(f"TARVEK_ATTR_{name}: the header's defined values "
                            f"{named.get(name, [])} differ from the catalogue's {expected}")
    for name in sorted(set(named) - {n for n, r in catalogue.items() if r["type"] == "ViInt32"}):
        problems.append(f"a group of defined values names TARVEK_ATTR_{name}, "
                        "which is no enumerated attribute of the catalogue")
    return problems


def main() -> int:
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], encoding="utf-8") as header:
        text = header.read()
    problems = disagreements(describe(sys.argv[1]), text)
    for problem in problems:
        print(f"TARVEK.h: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
