#!/usr/bin/env python3
"""Generates the command-line tool's attribute table from the catalogue.

Reads the description `gen_attribute_docs --json` writes, the one reader of
the driver's attribute catalogue, so the tool lists exactly the attributes the
driver registers, with their type, access, channel use and defined values,
without a second parser of the public header. A description that lacks what
the table needs stops the build here instead of producing a tool that silently
lacks an attribute.

Usage: gen_cli_table.py <catalogue.json> <output.inc>
"""
import json
import sys

KIND = {"ViBoolean": "Boolean", "ViInt32": "Int32", "ViReal64": "Real64",
        "ViString": "String", "ViSession": "Session"}
ACCESS = {"RW": "true", "R": "false"}


def fail(message: str) -> None:
    sys.exit(f"gen_cli_table: {message}")


def table(description: dict) -> str:
    attributes = description.get("attributes") or []
    if not attributes:
        fail("the catalogue description lists no attributes")
    out = ["// Generated from the attribute catalogue (gen_attribute_docs --json) by",
           "// gen_cli_table.py; do not edit.", ""]
    rows = []
    for index, row in enumerate(attributes):
        name = row["name"]
        if row["type"] not in KIND:
            fail(f"TARVEK_ATTR_{name} has the unknown type {row['type']}")
        if row["access"] not in ACCESS:
            fail(f"TARVEK_ATTR_{name} has the unknown access {row['access']}")
        values = "{}"
        # Booleans take on/off words; only enumerated integers carry a list.
        if row["type"] == "ViInt32" and row["values"]:
            values = f"kValues{index}"
            out.append(f"static constexpr EnumValue {values}[] = {{")
            for value in row["values"]:
                if not value["name"].startswith("TARVEK_VAL_"):
                    fail(f"TARVEK_ATTR_{name} has the value {value['name']}, not TARVEK_VAL_*")
                out.append(f'    {{"{value["name"]}", {int(value["value"])}}},')
            out.append("};")
        rows.append(f'    {{"TARVEK_ATTR_{name}", {int(row["id"])}, '
                    f'ValueKind::{KIND[row["type"]]}, {ACCESS[row["access"]]}, '
                    f'{"true" if row["channel"] else "false"}, {values}}},')
    out.append("")
    out.append("static constexpr AttributeInfo kAttributes[] = {")
    out.extend(rows)
    out.append("};")
    out.append("")
    return "\n".join(out)


def main() -> None:
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as source:
        text = table(json.load(source))
    with open(sys.argv[2], "w", encoding="utf-8") as output:
        output.write(text)


if __name__ == "__main__":
    main()
