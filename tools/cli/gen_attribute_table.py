#!/usr/bin/env python3
"""Generates the command-line tool's attribute table from the public header.

Every attribute identifier in TARVEK.h carries a trailing comment of the form
  /* ViReal64, read-write, per channel */
that states its type, its access and whether it takes a channel selector.
Every group of defined values is introduced by a comment naming the
attributes (TARVEK_ATTR_*) that take those values. The tool therefore learns
everything it needs from the header a C programmer reads, and a header that
breaks the convention fails the build here instead of producing a tool that
silently lacks an attribute.

Usage: gen_attribute_table.py <TARVEK.h> <output.inc>
"""
import re
import sys

ATTR_RE = re.compile(
    r"^#define\s+TARVEK_ATTR_(\w+)\s+(\d+)\s*/\*\s*(ViBoolean|ViInt32|ViReal64|ViString|ViSession)"
    r"\s*,\s*(read-write|read-only)\s*(,\s*per channel\s*)?\*/\s*$")
VAL_RE = re.compile(r"^#define\s+TARVEK_VAL_(\w+)\s+(-?\d+)\s*$")
KIND = {"ViBoolean": "Boolean", "ViInt32": "Int32", "ViReal64": "Real64",
        "ViString": "String", "ViSession": "Session"}


def parse(text):
    attributes = []
    groups = []  # (attributes named in the comment, [(name, value)])
    comment = None
    comment_attrs = []
    current = None
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i].strip()
        if line.startswith("/*") and not line.startswith("/*-"):
            block = line
            while "*/" not in block and i + 1 < len(lines):
                i += 1
                block += " " + lines[i].strip()
            comment = block
            comment_attrs = re.findall(r"TARVEK_ATTR_(\w+)", comment)
            current = None
        elif line.startswith("#define TARVEK_ATTR_"):
            match = ATTR_RE.match(line)
            if not match:
                sys.exit(f"TARVEK.h: attribute define without a type comment: {line}")
            name, ident, vitype, access, channel = match.groups()
            attributes.append((name, int(ident), KIND[vitype], access == "read-write",
                               channel is not None))
        elif line.startswith("#define TARVEK_VAL_"):
            match = VAL_RE.match(line)
            if not match:
                sys.exit(f"TARVEK.h: malformed defined value: {line}")
            if current is None:
                current = (comment_attrs, [])
                groups.append(current)
            current[1].append((match.group(1), int(match.group(2))))
        elif line == "":
            current = None
        i += 1
    return attributes, groups


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as header:
        attributes, groups = parse(header.read())
    if not attributes:
        sys.exit("TARVEK.h: no attribute identifiers found")
    known = {name for name, *_ in attributes}
    out = ["// Generated from include/TARVEK.h by gen_attribute_table.py; do not edit.", ""]
    for index, (attrs, values) in enumerate(groups):
        for attr in attrs:
            if attr not in known:
                sys.exit(f"TARVEK.h: defined values name an unknown attribute TARVEK_ATTR_{attr}")
        out.append(f"static constexpr EnumValue kValues{index}[] = {{")
        for name, value in values:
            out.append(f'    {{"TARVEK_VAL_{name}", {value}}},')
        out.append("};")
    out.append("")
    out.append("static constexpr AttributeInfo kAttributes[] = {")
    for name, ident, kind, writable, channel in attributes:
        group = next((i for i, (attrs, _) in enumerate(groups) if name in attrs), None)
        values = f"kValues{group}" if group is not None else "{}"
        out.append(f'    {{"TARVEK_ATTR_{name}", {ident}, ValueKind::{kind}, '
                   f'{"true" if writable else "false"}, {"true" if channel else "false"}, '
                   f'{values}}},')
    out.append("};")
    out.append("")
    with open(sys.argv[2], "w", encoding="utf-8") as output:
        output.write("\n".join(out))


if __name__ == "__main__":
    main()
