"""The generator turns the header and catalogue into the package's layer and
stops, naming the problem, when either breaks its conventions."""
from __future__ import annotations

import copy
import importlib
import json
import os
import sys
from pathlib import Path
from typing import Any

import pytest

import tarvek

SOURCE = Path(os.environ.get("TARVEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
GENERATORS = SOURCE / "tools" / "generators"
sys.path.insert(0, str(GENERATORS))  # where the generator finds driver_model, as when run
generator: Any = importlib.import_module("gen_python_package")

HEADER = (SOURCE / "include" / "TARVEK.h").read_text(encoding="utf-8")
CATALOGUE = json.loads((SOURCE / "python" / "catalogue.json").read_text(encoding="utf-8"))


def test_output_is_the_packages_layer_and_stable() -> None:
    text = generator.generate(HEADER, CATALOGUE)
    compile(text, "_generated.py", "exec")
    assert text == generator.generate(HEADER, copy.deepcopy(CATALOGUE))
    generated = Path(tarvek.__file__).resolve().parent / "_generated.py"
    assert generated.read_text(encoding="utf-8") == text


@pytest.mark.parametrize("name, expected", [
    ("ConfigureOVP", "configure_ovp"), ("QueryMaxCurrentLimit", "query_max_current_limit"),
    ("self_test", "self_test"), ("GetNextCoercionRecord", "get_next_coercion_record")])
def test_snake_case(name: str, expected: str) -> None:
    assert generator.snake(name) == expected


def broken_header(old: str, new: str) -> str:
    assert old in HEADER
    return HEADER.replace(old, new, 1)


def broken_group(taken_by: str, new_taken_by: str, value: Any = None) -> dict:
    catalogue = copy.deepcopy(CATALOGUE)
    group = next(group for group in catalogue["value_groups"] if group["taken_by"] == taken_by)
    group["taken_by"] = new_taken_by
    if value is not None:
        group["values"][0]["value"] = value
    return catalogue


def broken_row(name: str, **fields: Any) -> dict:
    catalogue = copy.deepcopy(CATALOGUE)
    next(row for row in catalogue["attributes"] if row["name"] == name).update(fields)
    return catalogue


@pytest.mark.parametrize("header, catalogue, message", [
    (lambda: HEADER,
     lambda: broken_group("TARVEK_ConfigureDigitalFunction", "TARVEK_ConfigureDigitalFunction",
                          value="zero"), "malformed defined value"),
    (lambda: HEADER,
     lambda: broken_group("TARVEK_ConfigureDigitalFunction", "TARVEK_ConfigureDigitalFunctions"),
     "unknown function"),
    (lambda: HEADER,
     lambda: broken_group("TARVEK_ATTR_DIGITAL_INHIBIT_MODE", "TARVEK_ATTR_DIGITAL_INHIBIT_MODES"),
     "no group of the catalogue names"),
    (lambda: broken_header("TARVEK_SaveState(ViSession vi, ViInt32 Location)",
                           "TARVEK_SaveState(ViSession vi, ViWhatever Location)"),
     lambda: copy.deepcopy(CATALOGUE), "no Python type"),
    (lambda: HEADER, lambda: broken_row("BEEPER_ENABLED", type="ViWhatever"),
     "no Python descriptor for ViWhatever"),
])
def test_broken_headers_or_catalogues_stop_the_build(header: Any, catalogue: Any,
                                                      message: str) -> None:
    with pytest.raises(SystemExit, match=message):
        generator.generate(header(), catalogue())


def test_catalogue_and_header_must_agree() -> None:
    catalogue = copy.deepcopy(CATALOGUE)
    row = next(row for row in catalogue["attributes"] if row["name"] == "OUTPUT_MODE")
    row["values"][0]["value"] = 99
    with pytest.raises(SystemExit, match="disagree"):
        generator.generate(HEADER, catalogue)


def test_description_unit_and_range_of_the_catalogue_are_used_when_present() -> None:
    catalogue = copy.deepcopy(CATALOGUE)
    row = next(row for row in catalogue["attributes"] if row["name"] == "VOLTAGE_LEVEL")
    row.update(description="The programmed output voltage", unit="V",
               range={"Series6310": "0 to 30", "Series6510": "0 to 60"})
    text = generator.generate(HEADER, catalogue)
    assert '    voltage_level = _Real64(1250001, "The programmed output voltage.")\n' in text
    assert "'Series6310 0 to 30, Series6510 0 to 60'" in text
    for row in catalogue["attributes"]:
        for name in ("description", "unit", "range"):
            row.pop(name, None)
    plain = generator.generate(HEADER, catalogue)
    assert '_Real64(1250001, "The voltage level of the output channel.")' in plain
    info = next(info for info in tarvek.ATTRIBUTES if info.name == "VOLTAGE_LEVEL")
    assert info.unit == "V"
    assert all(info.range is None or isinstance(info.range, str) for info in tarvek.ATTRIBUTES)
    doc = tarvek.OutputChannel.voltage_level.__doc__ or ""
    assert doc.startswith(info.description or "?") and f"Range: {info.range}." in doc


def test_each_attribute_is_one_line_of_the_generated_layer() -> None:
    lines = generator.generate(HEADER, CATALOGUE).split("\n")
    for info in tarvek.ATTRIBUTES:
        declared = [line for line in lines if line.startswith(f"    {info.python_name} = _")]
        assert len(declared) == 1, info.name
        assert f"({info.id}, " in declared[0] or f", {info.id}, " in declared[0], info.name
        assert declared[0].endswith(", writable=False)") != info.writable, info.name
