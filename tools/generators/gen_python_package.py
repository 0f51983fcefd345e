#!/usr/bin/env python3
"""Generates the attribute and function layer of the Python package.

  gen_python_package.py --header include/TARVEK.h --catalogue catalogue.json --output _generated.py

The catalogue (written by `gen_attribute_docs --json`) says what every
attribute is: type, access, channel use, SCPI, model support, value words,
and which groups of defined values exist with what takes each. The header
gives the prototype of every exported function. driver_model.py reads both
into the model this walks, as gen_ansi_c.py does. From it this writes one
Python module: an IntEnum per group of defined values, a property per
attribute, a method per instrument function, the ctypes prototypes, and the
attribute metadata that the tests walk. A header or catalogue that breaks
these conventions stops the build here instead of producing a package that
silently lacks something.
"""
from __future__ import annotations

import argparse
import json
import keyword
import sys
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Tuple

from driver_model import (SESSION_FUNCTIONS, DriverModel, Function, Parameter, ValueGroup, camel,
                          fail, read_inputs, snake)

# Functions the hand-written session layer covers besides those of every
# interface (resolving channel names, and the I/O trace, which the session's
# io_trace object in _trace.py covers); the properties are the accessors.
HAND_WRITTEN = SESSION_FUNCTIONS | {"ResolveChannelNames", "ConfigureIoTrace",
                                    "QueryIoTraceEnabled", "GetIoTrace", "ClearIoTrace"}

# ctypes spelling of each C type, and its Python annotation.
CTYPES = {"ViSession": "ViSession", "ViStatus": "ViStatus", "ViInt16": "ViInt16",
          "ViInt32": "ViInt32", "ViInt64": "ViInt64", "ViReal64": "ViReal64",
          "ViBoolean": "ViBoolean", "ViAttr": "ViAttr", "ViConstString": "ViString",
          "ViRsrc": "ViString", "ViString": "ViString", "ViConstBuf": "ctypes.c_char_p"}
ANNOTATION = {"ViInt16": "int", "ViInt32": "int", "ViInt64": "int", "ViReal64": "float",
              "ViBoolean": "bool", "ViSession": "int", "ViStatus": "int", "ViAttr": "int",
              "ViConstString": "str", "ViRsrc": "str", "ViString": "str", "ViChar": "str"}
# The package's checked conversion of each C type of an input.
CONVERT = {"ViInt32": "_integer", "ViReal64": "_real", "ViBoolean": "_boolean"}
# The descriptor of each attribute value type (see tarvek/_attributes.py).
DESCRIPTOR = {"ViReal64": "_Real64", "ViInt32": "_Int32", "ViBoolean": "_Bool",
              "ViString": "_String", "ViSession": "_Handle"}
ABBREVIATIONS = {"ocp": "OCP", "ovp": "OVP", "scpi": "SCPI", "lxi": "LXI", "io": "I/O",
                 "ah": "Ah", "wh": "Wh", "dc": "DC"}


# The defined values that number the output channels: where they are taken,
# a channel name or OutputChannel is taken as well.
CHANNEL_ENUM = "SelectedChannel"

# Result tuples the hand-written part defines (with the IVI-Python names),
# by name -> module; constructed from the outputs in order like the others.
HAND_WRITTEN_RESULTS = {"ErrorQueryResult": "._ivi"}

# Result NamedTuple name -> the C function whose outputs it holds.
RESULT_FUNCTIONS: Dict[str, str] = {}


def words(name: str) -> str:
    """VOLTAGE_PROTECTION_LEVEL -> voltage protection level (OCP, OVP kept)."""
    return " ".join(ABBREVIATIONS.get(part, part) for part in name.lower().split("_"))


def python_literal(text: Optional[str]) -> str:
    return "None" if text is None else repr(text)


def class_name(model: DriverModel, group: ValueGroup) -> str:
    """The IntEnum of a group of defined values is named after the one
    attribute that takes it, else after the words its values share when they
    are two or more, else after the function parameter that takes it."""
    if len(group.attributes) == 1:
        return camel(group.attributes[0])
    if group.prefix.count("_") >= 1:
        return camel(group.prefix)
    parameter = model.taking_parameter(group)
    if parameter is None:
        fail(f"catalogue: cannot name the values {group.values[0][0]}...")
    return parameter.name


@dataclass
class Attribute:
    row: Dict[str, Any]
    group: Optional[ValueGroup]

    @property
    def name(self) -> str:
        return self.row["name"]

    @property
    def python_name(self) -> str:
        return self.name.lower()


def text_of(value: object) -> Optional[str]:
    """A catalogue field as one line of text: a string as it is, a mapping
    as "key value" pairs, a list item by item; None when absent."""
    if value is None or value == "" or value == [] or value == {}:
        return None
    if isinstance(value, dict):
        return ", ".join(f"{key} {text_of(item)}" for key, item in value.items())
    if isinstance(value, (list, tuple)):
        return ", ".join(str(text_of(item)) for item in value)
    return str(value)


def described(attribute: Attribute, field_name: str) -> Optional[str]:
    """An optional descriptive field of the catalogue row ("description",
    "unit", "range"): catalogues written before those fields lack them."""
    return text_of(attribute.row.get(field_name))


def summary(attribute: Attribute) -> str:
    """The first docstring line: the catalogue's description when it has
    one, else what the attribute is, built from its name."""
    description = described(attribute, "description")
    if description:
        return description if description.endswith(".") else description + "."
    name = attribute.name
    channel = " of the output channel" if attribute.row["channel"] else ""
    if name.endswith("_ENABLED"):
        where = " on the output channel" if attribute.row["channel"] else ""
        return f"Whether {words(name[:-len('_ENABLED')])} is enabled{where}."
    if name.endswith("_TRIPPED"):
        return f"Whether the {words(name[:-len('_TRIPPED')])} protection has tripped{channel}."
    if name.endswith("_IS_RUNNING"):
        return f"Whether the {words(name[:-len('_IS_RUNNING')])} is running."
    text = words(name)
    return f"The {text}{channel}."


def descriptor_line(attribute: Attribute) -> str:
    """The attribute's one line: its descriptor, id and purpose."""
    row = attribute.row
    if row["type"] not in DESCRIPTOR:
        fail(f"TARVEK_ATTR_{attribute.name}: no Python descriptor for {row['type']}")
    arguments = [str(row["id"]), json.dumps(summary(attribute), ensure_ascii=False)]
    descriptor = DESCRIPTOR[row["type"]]
    if attribute.group is not None:
        descriptor = "_ChannelNumber" if attribute.group.type_name == CHANNEL_ENUM else "_Enum"
        arguments.insert(0, attribute.group.type_name)
    if row["access"] != "RW":
        arguments.append("writable=False")
    return f"    {attribute.python_name} = {descriptor}({', '.join(arguments)})"


def docstring(text: str, indent: str) -> str:
    body = text.replace("\\", "\\\\").replace('"""', '\\"\\"\\"')
    lines = body.split("\n")
    return (f'{indent}"""' + lines[0] + ("\n" + "\n".join(
        (indent + line) if line else "" for line in lines[1:]) + f"\n{indent}" if len(lines) > 1
        else "") + '"""')


def function_doc(function: Function, inputs: List[Parameter], outputs: List[Parameter],
                 enums: Dict[str, ValueGroup], result: str) -> str:
    name = function.name
    text = snake(name).replace("_", " ")
    text = " ".join(ABBREVIATIONS.get(word, word) for word in text.split())
    lines = [text[0].upper() + text[1:] + ".", "",
             f"C function: TARVEK_{name} ({function.section.lower()})."]
    if inputs:
        lines.append("")
        lines.append("Args:")
        for parameter in inputs:
            group = enums.get(parameter.name)
            kind = group.type_name if group else ANNOTATION[parameter.ctype]
            lines.append(f"    {snake(parameter.name)}: {kind} ({parameter.name}).")
    if outputs:
        lines.append("")
        lines.append(f"Returns: {result}.")
    return "\n".join(lines)


def function_code(function: Function, model: DriverModel, on_channel: bool,
                  results: List[str], several: bool = False) -> Tuple[List[str], str,
                                                                     List[Tuple[str, str]]]:
    """A method calling the function: inputs as arguments (the channel
    selector implied on a channel), outputs returned, several as a NamedTuple."""
    enums = model.value_parameters(function)
    parameters = function.parameters[1:]
    channel_selector = bool(parameters) and parameters[0].name == "ChannelName" and \
        parameters[0].ctype == "ViConstString"
    inputs: List[Parameter] = []
    outputs: List[Parameter] = []
    sizes: Dict[str, int] = {}
    for index, parameter in enumerate(parameters):
        if parameter.output:
            outputs.append(parameter)
            if parameter.array is not None:
                previous = parameters[index - 1] if index else None
                if previous is not None and previous.name.endswith("BufferSize"):
                    sizes[previous.name] = 4096
        elif parameter.array is not None:
            fail(f"TARVEK.h: TARVEK_{function.name}: input array {parameter.name}")
        else:
            inputs.append(parameter)
    inputs = [parameter for parameter in inputs if parameter.name not in sizes]
    visible = inputs[1:] if (on_channel and channel_selector) else inputs
    signature = ["self"]
    for parameter in visible:
        group = enums.get(parameter.name)
        kind = group.type_name if group else ANNOTATION.get(parameter.ctype)
        if group is not None and group.type_name == CHANNEL_ENUM:
            kind = f"Union[{CHANNEL_ENUM}, ChannelLike]"  # the member, or the channel itself
        if channel_selector and parameter is parameters[0]:
            kind = "ChannelLike"  # a name in any case, "" for the only channel, or a channel
        if kind is None:
            fail(f"TARVEK.h: TARVEK_{function.name}: no Python type for {parameter.ctype}")
        signature.append(f"{snake(parameter.name)}: {kind}")
    out_types = []
    for parameter in outputs:
        group = enums.get(parameter.name)
        out_types.append(group.type_name if group else ANNOTATION[parameter.ctype])
    result_name = ""
    if len(outputs) > 1:
        result_name = f"{function.name[0].upper()}{camel(snake(function.name))[1:]}Result"
        if result_name not in results:
            results.append(result_name)
            RESULT_FUNCTIONS[result_name] = function.name
        returns = result_name
    elif outputs:
        returns = out_types[0]
    else:
        returns = "None"
    full_return = f"List[{returns}]" if several else returns
    method = snake(function.name)
    result_text = (f"{result_name}({', '.join(snake(p.name) for p in outputs)})"
                   if result_name else (snake(outputs[0].name) if outputs else ""))
    override = "  # type: ignore[override]" if several else ""
    lines = [f"    def {method}({', '.join(signature)}) -> {full_return}:{override}",
             docstring(function_doc(function, visible, outputs, enums,
                                    result_text if outputs else ""), "        ")]
    body: List[str] = []
    arguments: List[str] = []
    for parameter in parameters:
        if parameter.output:
            variable = f"_{snake(parameter.name)}"
            if parameter.array is not None:
                size = int(parameter.array) if parameter.array else 1024
                if sizes and parameter.array == "":
                    size = next(iter(sizes.values()))
                body.append(f"{variable} = ctypes.create_string_buffer({size})")
                arguments.append(variable)
            else:
                body.append(f"{variable} = {CTYPES[parameter.ctype]}()")
                arguments.append(f"ctypes.byref({variable})")
        elif parameter.name in sizes:
            arguments.append(str(sizes[parameter.name]))
        elif channel_selector and parameter is parameters[0]:
            arguments.append("selector" if on_channel else
                             f"self._session._channel_text({snake(parameter.name)}, "
                             f"{snake(parameter.name)!r})")
        else:
            group = enums.get(parameter.name)
            argument = snake(parameter.name)
            if keyword.iskeyword(argument):
                fail(f"TARVEK.h: parameter name {argument} is a Python keyword")
            if group is not None and group.type_name == CHANNEL_ENUM:
                arguments.append(f"self._session._channel_index({argument}, {argument!r})")
            elif group is not None:
                arguments.append(f"_enum_value({group.type_name}, {argument}, {argument!r})")
            elif parameter.ctype in ("ViConstString", "ViRsrc", "ViString"):
                arguments.append(f"_text({argument}, {argument!r})")
            elif parameter.ctype in CONVERT:
                arguments.append(f"{CONVERT[parameter.ctype]}({argument}, {argument!r})")
            else:
                fail(f"TARVEK.h: TARVEK_{function.name}: no checked conversion for "
                     f"{parameter.ctype} {parameter.name}")
    body.append(f"self._call(LIB.TARVEK_{function.name}, {', '.join(arguments)})")
    values = []
    for parameter, kind in zip(outputs, out_types):
        variable = f"_{snake(parameter.name)}"
        if parameter.array is not None:
            values.append(f"{variable}.value.decode(errors='replace')")
        elif kind in ("int", "float"):
            values.append(f"{variable}.value")
        elif kind == "bool":
            values.append(f"bool({variable}.value)")
        else:
            values.append(f"_enum_result({kind}, {variable}.value)")
    if result_name:
        body.append(f"return {result_name}({', '.join(values)})")
    elif values:
        body.append(f"return {values[0]}")
    if on_channel and channel_selector and outputs:
        lines.append("        def one(selector: bytes) -> Any:")
        lines += [f"            {line}" for line in body]
        lines.append("        return self._each(one)")
    elif on_channel and channel_selector:
        lines.append("        selector = self._selector")
        lines += [f"        {line}" for line in body]
    elif channel_selector:
        selector_text = (f"self._session._channel_text({snake(parameters[0].name)}, "
                         f"{snake(parameters[0].name)!r})")
        lines += [f"        selector = {selector_text}"]
        lines += [f"        {line.replace(selector_text, 'selector')}" for line in body]
    else:
        lines += [f"        {line}" for line in body]
    lines.append("")
    result_fields = [(snake(p.name), kind) for p, kind in zip(outputs, out_types)]
    return lines, result_name, result_fields


def prototype_code(function: Function) -> str:
    types = []
    for parameter in function.parameters:
        if parameter.array is not None:
            types.append("ctypes.c_char_p")
        elif parameter.pointer:
            types.append(f"ctypes.POINTER({CTYPES.get(parameter.ctype, parameter.ctype)})")
        else:
            types.append(CTYPES.get(parameter.ctype, parameter.ctype))
    return f"    ('TARVEK_{function.name}', [{', '.join(types)}]),"


HEADER = '''"""The attribute and function layer of the package: generated by
tools/generators/gen_python_package.py from the driver's attribute catalogue
and include/TARVEK.h. Do not edit; edit the generator or the catalogue. What
an attribute does is in _attributes.py; here each is one line."""
# flake8: noqa
from __future__ import annotations

import ctypes
import enum
from typing import Any, List, NamedTuple, Tuple, Type, Union

from ._access import ChannelLike, _Access, _boolean, _integer, _real, _text
from ._attributes import (AttributeInfo, _Bool, _ChannelNumber, _Enum, _enum_result,
                          _enum_value, _Handle, _Int32, _NamedEnum, _Real64, _String, document)
from ._ivi import ErrorQueryResult
from ._library import (LIB, ViAttr, ViBoolean, ViInt16, ViInt32, ViInt64, ViReal64, ViSession,
                       ViStatus, ViString)


'''


def generate(header_text: str, catalogue: Dict[str, Any]) -> str:
    model = DriverModel(header_text, catalogue)
    model.name_groups(lambda group: class_name(model, group))
    groups = model.groups
    attributes = [Attribute(row, model.group_of_attribute.get(row["name"]))
                  for row in model.attributes]
    # The per-attribute accessors are the properties; the rest are methods.
    methods = model.instrument_functions(HAND_WRITTEN)

    out = [HEADER]
    out.append("# Defined values, one IntEnum per group of TARVEK.h.")
    for group in groups:
        out.append(f"class {group.type_name}(_NamedEnum):")
        out.append(docstring(f"{group.text}.", "    ").replace("..", "."))
        for member, name, value in group.members:
            out.append(f"    {member} = {value}  # TARVEK_VAL_{name}")
        out.append("")
        out.append("")

    results: List[str] = []
    session_methods: List[str] = []
    channel_methods: List[str] = []
    group_methods: List[str] = []
    result_fields: Dict[str, List[Tuple[str, str]]] = {}
    for function in methods:
        lines, result_name, fields = function_code(function, model, False, results)
        session_methods += lines
        if result_name:
            result_fields[result_name] = fields
        selector = len(function.parameters) > 1 and function.parameters[1].name == "ChannelName"
        if selector:
            lines, _, fields = function_code(function, model, True, results)
            channel_methods += lines
            if fields:
                lines, _, _ = function_code(function, model, True, results, several=True)
                group_methods += lines
    for name in results:
        if name in HAND_WRITTEN_RESULTS:
            continue
        out.append(f"class {name}(NamedTuple):")
        out.append(f'    """The outputs of TARVEK_{RESULT_FUNCTIONS[name]}."""')
        for field_name, kind in result_fields[name]:
            out.append(f"    {field_name}: {kind}")
        out.append("")
        out.append("")

    session_names = set()
    out.append("class SessionAttributes(_Access):")
    out.append('    """The attributes that act on the instrument as a whole (or on the channel it has')
    out.append('    selected) and the session\'s own settings."""')
    out.append("")
    out.append("    __slots__ = ()")
    out.append("")
    for attribute in attributes:
        if not attribute.row["channel"]:
            session_names.add(attribute.python_name)
            out.append(descriptor_line(attribute))
    out.append("")
    out.append("")
    out.append("class ChannelAttributes(_Access):")
    out.append('    """The attributes of an output channel; on a ChannelGroup a read returns a')
    out.append('    list."""')
    out.append("")
    out.append("    __slots__ = ()")
    out.append("")
    for attribute in attributes:
        if attribute.row["channel"]:
            out.append(descriptor_line(attribute))
    out.append("")
    out.append("")
    out.append("class SessionFunctions(_Access):")
    out.append('    """The instrument functions; those taking a channel name are also methods of')
    out.append('    OutputChannel."""')
    out.append("")
    out.append("    __slots__ = ()")
    out.append("")
    out += session_methods
    out.append("")
    out.append("class ChannelFunctions(_Access):")
    out.append('    """The instrument functions of an output channel."""')
    out.append("")
    out.append("    __slots__ = ()")
    out.append("")
    out += channel_methods
    out.append("")
    out.append("class ChannelGroupFunctions(ChannelFunctions):")
    out.append('    """The instrument functions of several output channels: those with a result')
    out.append('    return a list, one per channel; the others go to all of them at once."""')
    out.append("")
    out.append("    __slots__ = ()")
    out.append("")
    out += group_methods
    out.append("")

    for function in methods:
        method = snake(function.name)
        if method in session_names:
            fail(f"TARVEK_{function.name}: its method {method} would hide an attribute")

    out.append("# Attribute metadata, in catalogue order.")
    out.append("ATTRIBUTES: Tuple[AttributeInfo, ...] = (")
    for attribute in attributes:
        row = attribute.row
        words_text = tuple((value["name"], value["value"], tuple(value["commands"]),
                            tuple(value["models"])) for value in row["values"] or [])
        family = row["family"]
        family_text = (repr((family["family"], family["query"], family["command"]))
                       if family else "None")
        out.append(f"    AttributeInfo({row['name']!r}, {attribute.python_name!r}, {row['id']}, "
                   f"{row['type']!r}, {row['access'] == 'RW'}, {row['channel']}, "
                   f"{attribute.group.type_name if attribute.group else None}, "
                   f"{words_text!r}, {python_literal(row['query'])}, "
                   f"{python_literal(row['command'])}, {python_literal(row['unsupported'])}, "
                   f"{family_text}, {python_literal(row['simulated'])}, "
                   f"{python_literal(described(attribute, 'unit'))}, "
                   f"{python_literal(described(attribute, 'range'))}, "
                   f"{python_literal(described(attribute, 'description'))}, "
                   f"{python_literal(row['note'])}),")
    out.append(")")
    out.append("")
    out.append("# The instrument functions that are methods, by C name without TARVEK_.")
    out.append("FUNCTIONS: Tuple[str, ...] = (")
    for function in methods:
        out.append(f"    {function.name!r},")
    out.append(")")
    out.append("")
    out.append("ENUMS: Tuple[Type[enum.IntEnum], ...] = (" +
               ", ".join(group.type_name for group in groups) + ",)")
    out.append("RESULTS = (" + ", ".join(results) + ("," if results else "") + ")")
    out.append("")
    out.append("# What `from tarvek import *` adds: the enums and the result tuples.")
    out.append("__all__ = [" + ", ".join(repr(name) for name in
                                      [group.type_name for group in groups] + results) + "]")
    out.append("")
    out.append("# Prototypes of every exported function, so that ctypes converts and checks")
    out.append("# each argument.")
    out.append("LIB.declare((")
    out += [prototype_code(function) for function in model.functions]
    out.append("))")
    out.append("")
    out.append("document(ATTRIBUTES, SessionAttributes, ChannelAttributes)")
    out.append("")
    return "\n".join(out)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--header", required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    text = generate(*read_inputs(args.header, args.catalogue))
    with open(args.output, "w", encoding="utf-8") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
