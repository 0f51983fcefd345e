"""The driver as the interface generators see it.

The catalogue (written by `gen_attribute_docs --json`) says what every
attribute is and which groups of defined values exist, with what takes each
(the attributes and functions named in the group's text); the IVI-C header
gives the prototype of every exported function. DriverModel reads both into
one model and checks that they agree, so that gen_ansi_c.py and
gen_python_package.py walk the same functions, attributes and value groups
and differ only in what they write for each. A header or catalogue that
breaks these conventions stops the build here, naming the problem.
"""
from __future__ import annotations

import json
import re
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Dict, List, NoReturn, Optional, Set, Tuple

PROTOTYPE_RE = re.compile(r"TARVEK_API\s+ViStatus\s+_VI_FUNC\s+TARVEK_(\w+)\s*\(([^)]*)\)\s*;")
PARAMETER_RE = re.compile(r"^(\w+)\s*(\*?)\s*(\w+)\s*(?:\[(\d*)\])?$")
SECTION_RE = re.compile(r"/\*-\s*(.*?)\s*-*\*/")

# Functions every interface writes by hand: opening and closing a session,
# the error record and direct I/O.
SESSION_FUNCTIONS = {"init", "InitWithOptions", "close", "GetError", "ClearError",
                     "error_message", "viWrite", "viRead"}
# Typed attribute access and the per-attribute accessors, which each
# interface replaces with its own form of an attribute.
TYPED_ACCESS_RE = re.compile(r"^(Get|Set)AttributeVi\w+$")
ACCESSOR_SECTION = "Attribute accessors"


def fail(message: str) -> NoReturn:
    """Stops the generator, and so the build, naming the problem."""
    sys.exit(f"{Path(sys.argv[0]).stem}: {message}")


def snake(name: str) -> str:
    """ConfigureOVP -> configure_ovp, QueryMaxCurrentLimit -> query_max_current_limit,
    self_test stays."""
    name = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", name)
    name = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", name)
    return name.lower()


def camel(words: str) -> str:
    """OUTPUT_MODE -> OutputMode."""
    return "".join(part.capitalize() for part in words.split("_") if part)


@dataclass
class Parameter:
    ctype: str
    pointer: bool
    name: str
    array: Optional[str]  # None: not an array; "": unsized; digits: its size

    @property
    def output(self) -> bool:
        return self.pointer or (self.array is not None and self.ctype in ("ViChar", "ViByte"))


@dataclass
class Function:
    name: str
    parameters: List[Parameter]
    section: str

    @property
    def accessor(self) -> bool:
        """Typed attribute access or one attribute's accessor."""
        return bool(TYPED_ACCESS_RE.match(self.name)) or self.section.startswith(ACCESSOR_SECTION)


@dataclass
class ValueGroup:
    """One group of defined values and what the catalogue says takes them."""
    text: str  # the catalogue's words for what takes the values
    attributes: List[str]
    functions: List[str]
    values: List[Tuple[str, int]] = field(default_factory=list)  # name without TARVEK_VAL_
    prefix: str = ""  # the words all value names share
    members: List[Tuple[str, str, int]] = field(default_factory=list)  # member, name, value
    type_name: str = ""  # what the generated interface calls the group's type


def parse_header(text: str) -> List[Function]:
    """The prototype of every exported function, each with the title of the
    section of the header it stands in."""
    sections = [(match.start(), match.group(1)) for match in SECTION_RE.finditer(text)]
    functions = []
    for match in PROTOTYPE_RE.finditer(text):
        section = ""
        for start, title in sections:
            if start < match.start():
                section = title
        parameters = []
        for piece in match.group(2).split(","):
            piece = " ".join(piece.split())
            found = PARAMETER_RE.match(piece)
            if not found:
                fail(f"TARVEK.h: cannot read parameter {piece!r} of TARVEK_{match.group(1)}")
            ctype, star, name, array = found.groups()
            parameters.append(Parameter(ctype, bool(star), name,
                                        None if "[" not in piece else (array or "")))
        functions.append(Function(match.group(1), parameters, section))
    if not functions:
        fail("TARVEK.h: no function prototypes found")
    return functions


def common_word_prefix(names: List[str]) -> str:
    split = [name.split("_") for name in names]
    prefix: List[str] = []
    for parts in zip(*split):
        if len(set(parts)) != 1:
            break
        prefix.append(parts[0])
    # A prefix that is a whole value name leaves that member without a name.
    if any(len(parts) == len(prefix) for parts in split):
        prefix = prefix[:-1]
    return "_".join(prefix)


def enum_parameter(function: Function) -> Optional[Parameter]:
    """The parameter that takes a function's defined values: its first
    ViInt32, input or output, that is not a pin number or a buffer size."""
    for parameter in function.parameters[1:]:
        if parameter.ctype == "ViInt32" and parameter.name not in ("Pin", "BufferSize"):
            return parameter
    return None


def value_group(entry: Dict[str, Any]) -> ValueGroup:
    """One of the catalogue's groups of defined values; its members drop the
    words the values share unless that leaves a digit first."""
    text = entry["taken_by"]
    group = ValueGroup(text, re.findall(r"TARVEK_ATTR_(\w+)", text),
                       [name for name in re.findall(r"TARVEK_([A-Z]\w*?)\b(?![_A-Z])", text)
                        if not name.startswith(("ATTR_", "VAL_"))])
    for value in entry["values"]:
        name = value["name"]
        if not name.startswith("TARVEK_VAL_") or not isinstance(value["value"], int):
            fail(f"catalogue: malformed defined value: {name} = {value['value']!r}")
        group.values.append((name[len("TARVEK_VAL_"):], value["value"]))
    group.prefix = common_word_prefix([name for name, _ in group.values])
    for name, value in group.values:
        member = name[len(group.prefix) + 1:] if group.prefix else name
        if not member or member[0].isdigit():
            member = name
        group.members.append((member, name, value))
    return group


class DriverModel:
    """The exported functions of TARVEK.h and the catalogue's attributes and
    groups of defined values, checked against each other."""

    def __init__(self, header_text: str, catalogue: Dict[str, Any]) -> None:
        self.groups = [value_group(entry) for entry in catalogue.get("value_groups") or []]
        if not self.groups:
            fail("catalogue: no groups of defined values")
        self.functions = parse_header(header_text)
        self.function = {function.name: function for function in self.functions}
        # Function name -> the parameter that takes defined values -> their group.
        self._value_parameters: Dict[str, Dict[str, ValueGroup]] = {}
        for group in self.groups:
            for name in group.functions:
                if name not in self.function:
                    fail(f"catalogue: defined values name an unknown function TARVEK_{name}")
                parameter = enum_parameter(self.function[name])
                if parameter is None:
                    fail(f"TARVEK.h: TARVEK_{name} takes defined values but no ViInt32")
                self._value_parameters.setdefault(name, {})[parameter.name] = group
        self.attributes: List[Dict[str, Any]] = catalogue["attributes"]  # in catalogue order
        self.group_of_attribute = {name: group for group in self.groups
                                   for name in group.attributes}
        self._check_attribute_values()

    def _check_attribute_values(self) -> None:
        numbers = {f"TARVEK_VAL_{name}": value for group in self.groups
                   for name, value in group.values}
        for row in self.attributes:
            group = self.group_of_attribute.get(row["name"])
            if row["type"] == "ViInt32" and row["values"] and group is None:
                fail(f"TARVEK_ATTR_{row['name']} has defined values that no group of the "
                     "catalogue names")
            for value in row["values"] or []:
                if value["name"].startswith("TARVEK_VAL_") and \
                        numbers.get(value["name"]) != value["value"]:
                    fail(f"{value['name']}: the attribute and its group of defined values "
                         "disagree")
        known = {row["name"] for row in self.attributes}
        for name in self.group_of_attribute:
            if name not in known:
                fail(f"catalogue: defined values name an unknown attribute TARVEK_ATTR_{name}")

    def name_groups(self, name_of: Callable[[ValueGroup], str]) -> None:
        """Gives each group the type name name_of chooses; two groups may not
        share one."""
        taken: Set[str] = set()
        for group in self.groups:
            group.type_name = name_of(group)
            if group.type_name in taken:
                fail(f"catalogue: two groups of values would both be named {group.type_name}")
            taken.add(group.type_name)

    def taking_parameter(self, group: ValueGroup) -> Optional[Parameter]:
        """The parameter of the first function that takes the group's values."""
        return enum_parameter(self.function[group.functions[0]]) if group.functions else None

    def value_parameters(self, function: Function) -> Dict[str, ValueGroup]:
        """The parameters of a function that take defined values, each with
        its group."""
        return self._value_parameters.get(function.name, {})

    def instrument_functions(self, hand_written: Set[str]) -> List[Function]:
        """The functions an interface generates a counterpart of: all but
        the accessors and the ones it writes by hand, in header order."""
        return [function for function in self.functions
                if function.name not in hand_written and not function.accessor]


def read_inputs(header_path: str, catalogue_path: str) -> Tuple[str, Dict[str, Any]]:
    """The text of TARVEK.h and the catalogue of `gen_attribute_docs --json`."""
    with open(header_path, encoding="utf-8") as file:
        header_text = file.read()
    with open(catalogue_path, encoding="utf-8") as file:
        return header_text, json.load(file)
