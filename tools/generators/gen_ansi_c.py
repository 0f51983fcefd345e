#!/usr/bin/env python3
"""Generates the IVI-ANSI-C interface (tk6x1x.h and its accessors) of the driver.

  gen_ansi_c.py --header include/TARVEK.h --catalogue catalogue.json
                --template ansi_c/tk6x1x.h.in --out-header tk6x1x.h
                --out-source tk6x1x_generated.cpp --out-test-table tk6x1x_test_table.inc
                --out-function-table tk6x1x_function_table.inc

The catalogue (written by `gen_attribute_docs --json`) gives every attribute
(type, access, whether it is per output channel) and the groups of defined
values; the IVI-C header gives the prototype of every instrument function.
driver_model.py reads both into the model this walks, as
gen_python_package.py does. From it this writes the enumerated types and
their constants, a _get (and for writable attributes a _set) function per
attribute, and a function per instrument function, into the template's
@GENERATED@ place, and the C++ source that implements each one as a call of
the IVI-C function, and two tables for the tests: the attributes with their
accessors, and each instrument function beside its IVI-C counterpart. A
header or catalogue that breaks these conventions stops the build here.
"""
from __future__ import annotations

import argparse
import json
import re
import sys
from typing import Any, Dict, List, Optional, Set, Tuple

from driver_model import (SESSION_FUNCTIONS, DriverModel, ValueGroup, camel, fail, read_inputs,
                          snake)

PREFIX = "TK6x1x"
UPPER = PREFIX.upper()
CORE_RE = re.compile(r"\b(" + PREFIX + r"_\w+)\s*\(")

# IVI-C functions that the hand-written core maps to their IVI-ANSI-C form
# besides those of every interface (reset, error query), or that belong to the
# IVI-C inherent machinery of coercion records and interchange warnings, which
# is read destructively and has no IVI-ANSI-C counterpart. The per-attribute
# functions replace typed access and the IVI-C accessors.
NOT_GENERATED = SESSION_FUNCTIONS | {"reset", "error_query", "GetNextCoercionRecord",
                                     "GetNextInterchangeWarning", "ClearInterchangeWarnings",
                                     "ResetInterchangeCheck"}

# C99 type of each IVI-C value type, and the helper suffix of its accessor.
VALUE_TYPES = {"ViInt32": ("int32_t", "Int32"), "ViReal64": ("double", "Real64"),
               "ViBoolean": ("bool", "Boolean"), "ViSession": ("uint32_t", "Session"),
               "ViInt16": ("int16_t", None)}


def comment(text: str, indent: str = "") -> List[str]:
    """A C comment of at most 100 columns."""
    text = " ".join(text.replace("*/", "* /").split())
    lines, line = [], ""
    for word in text.split(" "):
        if line and len(indent) + 3 + len(line) + 1 + len(word) > 97:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    lines.append(line)
    if len(lines) == 1:
        return [f"{indent}/* {lines[0]} */"]
    return ([f"{indent}/* {lines[0]}"] + [f"{indent} * {piece}" for piece in lines[1:-1]] +
            [f"{indent} * {lines[-1]} */"])


def type_base(model: DriverModel, group: ValueGroup) -> str:
    """The words a group of defined values is named after: the one attribute
    that takes it, else the words its values share, else the function
    parameter that takes it."""
    if len(group.attributes) == 1:
        return group.attributes[0]
    if group.prefix:
        return group.prefix
    parameter = model.taking_parameter(group)
    if parameter is None:
        fail(f"catalogue: cannot name the values {group.values[0][0]}...")
    return snake(parameter.name).upper()


class Writer:
    def __init__(self, core_names: Set[str]) -> None:
        self.core_names = core_names
        self.declarations: List[str] = []
        self.definitions: List[str] = []
        self.names: List[str] = []
        self.calls: List[Tuple[str, str, List[Tuple[str, str]]]] = []

    def add(self, name: str, parameters: List[str], body: List[str], doc: Optional[str]) -> None:
        if name in self.core_names:
            return
        if name in self.names:
            fail(f"two functions would both be named {name}")
        self.names.append(name)
        signature = f"TK6X1X_API int32_t {name}({', '.join(parameters)})"
        if doc:
            self.declarations += comment(doc)
        if len(signature) < 100:
            self.declarations.append(signature + ";")
        elif len(", ".join(parameters)) < 94:
            self.declarations += [f"TK6X1X_API int32_t {name}(",
                                  f"    {', '.join(parameters)});"]
        else:
            self.declarations.append(f"TK6X1X_API int32_t {name}(")
            self.declarations += [f"    {parameter}," for parameter in parameters[:-1]]
            self.declarations.append(f"    {parameters[-1]});")
        self.definitions += [signature + " {"] + [f"    {line}" for line in body] + ["}", ""]


def attribute_functions(writer: Writer, model: DriverModel) -> None:
    section = None
    for attribute in model.attributes:
        name, ctype, channel = attribute["name"], attribute["type"], attribute["channel"]
        if attribute["group"] != section:
            section = attribute["group"]
            writer.declarations += ["", f"/*- Properties: {section} " +
                                    "-" * max(3, 62 - len(section)) + "*/", ""]
        base = f"{PREFIX}_{name.lower()}"
        attr = f"TARVEK_ATTR_{name}"
        selector = ["const char* channel"] if channel else []
        channel_arg = "channel" if channel else "nullptr"
        doc = attribute.get("description") or ""
        extras = [piece for piece in (
            attribute.get("unit") and f"unit {attribute['unit']}",
            "per output channel" if channel else None,
            "read-only" if attribute["access"] == "R" else None) if piece]
        if extras:
            doc = f"{doc} ({'; '.join(extras)})".strip()
        if ctype == "ViString":
            writer.add(f"{base}_get", ["TK6x1xSession session"] + selector +
                       ["size_t size", "char* value_out", "size_t* size_required"],
                       [f"return tk6x1x::GetString(session, {channel_arg}, {attr}, size, "
                        f"value_out, size_required, \"{base}_get\");"], doc)
            if attribute["access"] == "RW":
                writer.add(f"{base}_set", ["TK6x1xSession session"] + selector +
                           ["const char* value"],
                           [f"return tk6x1x::SetString(session, {channel_arg}, {attr}, value);"],
                           None)
            continue
        if ctype not in VALUE_TYPES or VALUE_TYPES[ctype][1] is None:
            fail(f"catalogue: {name} has the type {ctype}, which has no C99 accessor")
        c_type, helper = VALUE_TYPES[ctype]
        group = model.group_of_attribute.get(name)
        value_type = group.type_name if group and ctype == "ViInt32" else c_type
        cast = "reinterpret_cast<int32_t*>(value_out)" if value_type != c_type else "value_out"
        writer.add(f"{base}_get", ["TK6x1xSession session"] + selector +
                   [f"{value_type}* value_out"],
                   [f"return tk6x1x::Get{helper}(session, {channel_arg}, {attr}, {cast});"], doc)
        if attribute["access"] == "RW":
            writer.add(f"{base}_set", ["TK6x1xSession session"] + selector +
                       [f"{value_type} value"],
                       [f"return tk6x1x::Set{helper}(session, {channel_arg}, {attr}, value);"],
                       None)


def instrument_functions(writer: Writer, model: DriverModel) -> None:
    section = None
    for function in model.instrument_functions(NOT_GENERATED):
        enums = model.value_parameters(function)
        if function.section != section:
            section = function.section
            writer.declarations += ["", f"/*- Functions: {section} " +
                                    "-" * max(3, 63 - len(section)) + "*/", ""]
        name = f"{PREFIX}_{snake(function.name)}"
        params = function.parameters
        if not params or params[0].ctype != "ViSession" or params[0].pointer:
            fail(f"TARVEK_{function.name} does not take the session first")
        signature = ["TK6x1xSession session"]
        arguments = ["vi"]
        kinds: List[Tuple[str, str]] = []  # (kind, type) of each parameter, for the tests
        before: List[str] = []
        after: List[str] = []
        text_call = None
        index = 1
        while index < len(params):
            parameter = params[index]
            pname = snake(parameter.name)
            following = params[index + 1] if index + 1 < len(params) else None
            if (parameter.ctype == "ViInt32" and not parameter.pointer and following and
                    following.ctype == "ViChar" and following.array == ""):
                # A sized text: the variable-size protocol.
                if text_call is not None:
                    fail(f"TARVEK_{function.name} returns two sized texts")
                out = f"{snake(following.name)}_out"
                signature += ["size_t size", f"char* {out}", "size_t* size_required"]
                arguments += ["nBufferSize", "pText"]
                text_call = out
                kinds.append(("sized_text", ""))
                index += 2
                continue
            if parameter.ctype == "ViChar" and parameter.array is not None:
                size = parameter.array or "256"
                signature.append(f"char {pname}_out[{size}]")
                arguments.append(f"{pname}_out")
                kinds.append(("fixed_text", size))
            elif parameter.ctype == "ViConstString" and not parameter.pointer:
                signature.append(f"const char* {pname}")
                arguments.append(pname)
                kinds.append(("text", ""))
            elif parameter.ctype in VALUE_TYPES:
                group = enums.get(parameter.name)
                c_type = group.type_name if group else VALUE_TYPES[parameter.ctype][0]
                kinds.append(("out" if parameter.pointer else "in", parameter.ctype))
                if parameter.pointer:
                    signature.append(f"{c_type}* {pname}_out")
                    if parameter.ctype == "ViBoolean":
                        before.append(f"tk6x1x::BoolOut {pname}({pname}_out);")
                        arguments.append(f"{pname}.get()")
                        after.append(f"status = {pname}.Done(status);")
                    else:
                        arguments.append(f"reinterpret_cast<{parameter.ctype}*>({pname}_out)")
                else:
                    signature.append(f"{c_type} {pname}")
                    arguments.append(f"tk6x1x::Vb({pname})" if parameter.ctype == "ViBoolean"
                                     else pname)
            else:
                fail(f"TARVEK_{function.name}: no C99 form for parameter {parameter.ctype} "
                     f"{parameter.name}")
            index += 1
        call = f"TARVEK_{function.name}({', '.join(arguments)})"
        body = ["const ViSession vi = tk6x1x::Vi(session);",
                "return tk6x1x::Guard([&]() -> int32_t {"]
        if text_call is not None:
            body += ["    std::string strText;",
                     "    const ViStatus status = tk6x1x::ReadText(",
                     "        [&](ViInt32 nBufferSize, ViChar* pText) {",
                     f"            return {call};",
                     "        },",
                     "        strText);",
                     "    if (status < 0) {",
                     "        return tk6x1x::Passed(vi, status);",
                     "    }",
                     f"    return tk6x1x::Handed(status, tk6x1x::CopyOut(vi, strText, size, "
                     f"{text_call}, size_required, \"{name}\"));"]
        else:
            body += [f"    {line}" for line in before]
            body.append(f"    {'ViStatus' if after else 'const ViStatus'} status = {call};")
            body += [f"    {line}" for line in after]
            body.append("    return tk6x1x::Passed(vi, status);")
        body.append("});")
        writer.add(name, signature, body, f"As TARVEK_{function.name} of TARVEK.h.")
        writer.calls.append((name, f"TARVEK_{function.name}", kinds))


def enumerations(model: DriverModel) -> List[str]:
    """A typedef per group of defined values and a constant per value, named
    after the group's words and the value's own."""
    lines = ["/*- Enumerated types ---------------------------------------------------------*/"]
    for group in model.groups:
        lines.append("")
        lines += comment(group.text.replace("TARVEK_ATTR_", "").replace("TARVEK_", ""))
        lines.append(f"typedef int32_t {group.type_name};")
        constant_prefix = f"{UPPER}_{type_base(model, group)}_"
        for member, _, value in group.members:
            lines.append(f"#define {constant_prefix}{member} (({group.type_name}){value})")
    return lines


def c_string(text: Optional[str]) -> str:
    return json.dumps(text or "")


def test_table(attributes: List[Dict[str, Any]], names: List[str]) -> str:
    """The catalogue as rows the tests walk: each attribute's facts and its
    generated functions, so that every accessor is called by the table."""
    families = ("Series6310", "Series6510")
    lines = ["// Generated by tools/generators/gen_ansi_c.py from the attribute catalogue; do not",
             "// edit. One row per attribute: name, id, type, writable, per channel, the",
             "// families that refuse it, its note, its group, its range per family, its",
             "// named values (value, whether the driver takes it, the families that refuse",
             "// it), and its _get and _set functions."]
    for attribute in attributes:
        name = attribute["name"]
        base = f"{PREFIX}_{name.lower()}"
        kind = {"ViInt32": "i", "ViReal64": "r", "ViBoolean": "b", "ViString": "s",
                "ViSession": "h"}[attribute["type"]]
        limits = attribute["range"]
        if limits is None:
            range_text = "{false, 0, 0, 0, 0}"
        else:
            per_family = [limits.get(family, limits) for family in families]
            range_text = "{true, " + ", ".join(
                f"{float(one['min'])!r}, {float(one['max'])!r}" for one in per_family) + "}"
        values = []
        seen = set()
        for value in attribute["values"] or []:
            if value["value"] in seen:
                continue
            seen.add(value["value"])
            values.append(f"{{{value['value']}, {'true' if value['supported'] else 'false'}, "
                          f"{c_string(','.join(value['refused_by']))}}}")
        getter = f"TK6X1X_FN({base}_get)" if f"{base}_get" in names else "nullptr"
        setter = f"TK6X1X_FN({base}_set)" if f"{base}_set" in names else "nullptr"
        if getter == "nullptr":
            fail(f"no _get function for {name}")
        lines.append(
            f"{{{c_string(name)}, TARVEK_ATTR_{name}, '{kind}', "
            f"{'true' if attribute['access'] == 'RW' else 'false'}, "
            f"{'true' if attribute['channel'] else 'false'}, {c_string(attribute['unsupported'])}, "
            f"{c_string(attribute['note'])}, {c_string(attribute['group'])}, {range_text}, "
            f"{{{', '.join(values)}}}, {getter}, {setter}}},")
    return "\n".join(lines) + "\n"


# The argument each input kind is called with in the tests.
TEST_INPUTS = {"ViInt32": ("1", "1"), "ViInt16": ("1", "1"), "ViReal64": ("1.0", "1.0"),
               "ViBoolean": ("true", "VI_TRUE"), "ViSession": ("1", "1")}


def function_table(calls: List[Tuple[str, str, List[Tuple[str, str]]]]) -> str:
    """Each generated instrument function and its IVI-C counterpart, called
    with the same arguments; the tests compare what the two return."""
    lines = ["// Generated by tools/generators/gen_ansi_c.py from TARVEK.h; do not edit. Each",
             "// instrument function of tk6x1x.h beside its IVI-C counterpart, both called with",
             "// the same arguments (channel \"CH1\", numbers 1, flags true); each gives its",
             "// status and its outputs as text."]
    for ansi, ivi, kinds in calls:
        a_pre, a_args, a_post, i_pre, i_args, i_post = [], [], [], [], [], []
        sized = False
        for index, (kind, ctype) in enumerate(kinds):
            local = f"out{index}"
            if kind == "text":
                a_args.append('"CH1"')
                i_args.append('"CH1"')
            elif kind == "in":
                a_args.append(TEST_INPUTS[ctype][0])
                i_args.append(TEST_INPUTS[ctype][1])
            elif kind == "out":
                a_pre.append(f"{VALUE_TYPES[ctype][0]} {local}{{}};")
                i_pre.append(f"{ctype} {local}{{}};")
                a_args.append(f"&{local}")
                i_args.append(f"&{local}")
                convert = f"{local} != 0" if ctype == "ViBoolean" else local
                a_post.append(f"outcome.Add({convert});")
                i_post.append(f"outcome.Add({convert});")
            elif kind == "fixed_text":
                a_pre.append(f"char {local}[{ctype}] = \"\";")
                i_pre.append(f"ViChar {local}[{ctype}] = \"\";")
                a_args.append(local)
                i_args.append(local)
                a_post.append(f"outcome.Add(std::string({local}));")
                i_post.append(f"outcome.Add(std::string({local}));")
            else:
                sized = True
                i_pre.append("ViChar text[1024] = \"\";")
                i_args += ["1024", "text"]
                i_post.append("outcome.Add(std::string(text));")
        if sized and kinds[-1][0] != "sized_text":
            fail(f"{ivi}: a sized text must be the last output")
        if sized:
            head = ", ".join(["session"] + a_args)
            a_call = ["size_t required = 0;",
                      f"outcome.nStatus = {ansi}({head}, 0, nullptr, &required);",
                      "std::string text(required, '\\0');",
                      "if (outcome.nStatus >= 0) {",
                      f"    outcome.nStatus = {ansi}({head}, text.size(), text.data(), &required);",
                      "}",
                      "outcome.Add(std::string(text.c_str()));"]
        else:
            a_call = [f"outcome.nStatus = {ansi}({', '.join(['session'] + a_args)});"]
        i_call = [f"outcome.nStatus = {ivi}({', '.join(['vi'] + i_args)});"]
        lines.append(f"{{\"{ansi}\",")
        lines.append("    [](TK6x1xSession session) {")
        lines += [f"        {line}" for line in ["Outcome outcome;"] + a_pre + a_call + a_post +
                  ["return outcome;"]]
        lines.append("    },")
        lines.append("    [](ViSession vi) {")
        lines += [f"        {line}" for line in ["Outcome outcome;"] + i_pre + i_call + i_post +
                  ["return outcome;"]]
        lines.append("    }},")
    return "\n".join(lines) + "\n"


def generate(header_text: str, catalogue: Dict[str, Any],
             template: str) -> Tuple[str, str, str, str]:
    if "@GENERATED@" not in template:
        fail("template: no @GENERATED@ place")
    model = DriverModel(header_text, catalogue)
    model.name_groups(lambda group: PREFIX + camel(type_base(model, group)))
    writer = Writer(set(CORE_RE.findall(template)))
    attribute_functions(writer, model)
    instrument_functions(writer, model)
    generated = enumerations(model) + writer.declarations
    header = template.replace("@GENERATED@", "\n".join(generated).strip("\n"))
    source = "\n".join([
        "// Generated by tools/generators/gen_ansi_c.py from the attribute catalogue and",
        "// TARVEK.h; do not edit. Each function calls its IVI-C counterpart.",
        "#include <string>", "", '#include "tk6x1x_layer.h"', "",
        'extern "C" {', ""] + writer.definitions + ['}  // extern "C"', ""])
    table = test_table(model.attributes, writer.names + sorted(writer.core_names))
    return header, source, table, function_table(writer.calls)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--header", required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--out-header", required=True)
    parser.add_argument("--out-source", required=True)
    parser.add_argument("--out-test-table", required=True)
    parser.add_argument("--out-function-table", required=True)
    args = parser.parse_args()
    header_text, catalogue = read_inputs(args.header, args.catalogue)
    with open(args.template, encoding="utf-8") as file:
        template = file.read()
    header, source, table, functions = generate(header_text, catalogue, template)
    for path, text in ((args.out_header, header), (args.out_source, source),
                       (args.out_test_table, table), (args.out_function_table, functions)):
        try:
            with open(path, encoding="utf-8") as file:
                if file.read() == text:
                    continue  # unchanged: keep the time stamp, nothing rebuilds
        except OSError:
            pass
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
