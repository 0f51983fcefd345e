"""Every attribute as a property: types, round trips in simulation, the exact
bytes a live write and read send, enum and bool conversions. Table-driven
from the metadata the package was generated with."""
from __future__ import annotations

import enum
from typing import Any, List

import pytest

import tarvek
from conftest import Emulator, family_of, supported

ATTRIBUTES = {info.name: info for info in tarvek.ATTRIBUTES}
PYTHON_TYPE = {"ViReal64": float, "ViInt32": int, "ViBoolean": bool, "ViString": str,
               "ViSession": int}
# Text values the instrument accepts, by attribute; other texts get "10".
TEXT_SAMPLES = {"SYSTEM_DATE": "2026,12,7", "SYSTEM_TIME": "12,30,0"}
# Whole-number values the instrument accepts where 7 is out of range.
INT_SAMPLES = {"SELECTED_LIST": 2, "SELECTED_STEP": 3, "NEXT_LIST": 2, "SYSTEM_IO_TIMEOUT": 2500}
# What simulation refuses, and with which status.
SIMULATION_REFUSALS = {
    "TRIGGERED_CURRENT_LIMIT": 0xBFFA0012,
    "TRIGGERED_VOLTAGE_LEVEL": 0xBFFA0012,
    "SYSTEM_IO_TIMEOUT": 0xBFFA4214,
    "SYSTEM_IO_SESSION": 0xBFFA4214,
}
# Members for the enumerations the driver holds or maps itself.
ENUM_SAMPLES = {"TRIGGER_SOURCE": tarvek.TriggerSource.SOFTWARE_TRIG,
                "CURRENT_LIMIT_BEHAVIOR": tarvek.CurrentLimitBehavior.TRIP}
# Values these attributes must keep to be written at all.
FIXED_WRITES = {"OVP_ENABLED": True, "SIMULATE": True, "INTERCHANGE_CHECK": False}


def status(code: int) -> int:
    """A 0xBFFA.... code as the signed status the driver returns."""
    return code - (1 << 32) if code & 0x80000000 else code


def applies(row_models: tuple, family: str, model: str) -> bool:
    return not row_models or family in row_models or model in row_models


def sample(info: tarvek.AttributeInfo, family: str, model: str, current: Any = None) -> Any:
    """A value to write: the last member whose instrument word applies to the
    model (so it differs from the default), the opposite boolean, or a plain
    number or text."""
    if info.name in FIXED_WRITES:
        return FIXED_WRITES[info.name]
    if info.name in ENUM_SAMPLES:
        return ENUM_SAMPLES[info.name]
    if info.enum is not None:
        values = [value for _, value, words, models in info.words
                  if words and applies(models, family, model)]
        return info.enum(values[-1])
    if info.c_type == "ViBoolean":
        return not current if current is not None else False
    if info.c_type == "ViReal64":
        return 1.25
    if info.c_type == "ViInt32":
        return INT_SAMPLES.get(info.name, 7)
    return TEXT_SAMPLES.get(info.name, "10")


def word(info: tarvek.AttributeInfo, value: Any, family: str, model: str) -> str:
    """What the driver sends for value: the number in the command's format,
    or the first instrument word of the row for the model."""
    if info.words:
        for _, number, words, models in info.words:
            if number == int(value) and words and applies(models, family, model):
                return words[0]
        raise AssertionError(f"no word for {value!r} of {info.name}")
    if info.c_type == "ViReal64":
        return "%.15g" % value
    return str(value)


def test_every_attribute_is_a_typed_documented_property() -> None:
    for info in tarvek.ATTRIBUTES:
        owner = tarvek.OutputChannel if info.channel else tarvek.Session
        prop = getattr(owner, info.python_name, None)
        assert isinstance(prop, property), info.name
        assert (prop.fset is not None) == info.writable, info.name
        doc = prop.__doc__ or ""
        assert f"TARVEK_ATTR_{info.name}" in doc, info.name
        for text in (info.query, info.command):
            if text:
                assert f'"{text}"' in doc, info.name
        if info.c_type == "ViReal64" and ("VOLTAGE" in info.name or "CURRENT" in info.name):
            assert "Unit:" in doc, info.name
        assert "return" in prop.fget.__annotations__, info.name
    assert len(tarvek.ATTRIBUTES) == 104
    assert ATTRIBUTES["VOLTAGE_LEVEL"].python_name == "voltage_level"
    assert {info.python_name for info in tarvek.ATTRIBUTES if info.channel} == {
        "voltage_level", "ovp_enabled", "ovp_limit", "current_limit_behavior", "current_limit",
        "output_enabled", "trigger_source"}


@pytest.mark.parametrize("info", tarvek.ATTRIBUTES, ids=lambda info: info.name)
def test_simulated_round_trip(simulated: tarvek.Session, info: tarvek.AttributeInfo) -> None:
    family = family_of(simulated)
    model = simulated.instrument_model
    owner = simulated.channels["CH1"] if info.channel else simulated
    if not supported(info, family):
        with pytest.raises(tarvek.Error) as refused:
            getattr(owner, info.python_name)
        assert refused.value.code == status(0xBFFA0012)
        assert model in str(refused.value)
        return
    if info.name in SIMULATION_REFUSALS:
        with pytest.raises(tarvek.Error) as refused:
            if info.writable and info.name.startswith("TRIGGERED"):
                setattr(owner, info.python_name, 1.0)
            else:
                getattr(owner, info.python_name)
        assert refused.value.code == status(SIMULATION_REFUSALS[info.name])
        assert refused.value.description
        return
    value = getattr(owner, info.python_name)
    assert isinstance(value, PYTHON_TYPE[info.c_type]), (info.name, value)
    if info.enum is not None:
        assert isinstance(value, info.enum), (info.name, value)
    if not info.writable:
        with pytest.raises(AttributeError):
            setattr(owner, info.python_name, value)
        return
    new = sample(info, family, model, value)
    setattr(owner, info.python_name, new)
    assert getattr(owner, info.python_name) == new
    assert type(getattr(owner, info.python_name)) is type(new) or info.enum is None


def live_cases() -> List[tarvek.AttributeInfo]:
    return [info for info in tarvek.ATTRIBUTES if info.command or info.query]


@pytest.mark.parametrize("info", live_cases(), ids=lambda info: info.name)
def test_live_access_sends_the_catalogue_command(emulator: Emulator, live: tarvek.Session,
                                                 info: tarvek.AttributeInfo) -> None:
    family, model = emulator.family, emulator.model  # type: ignore[attr-defined]
    owner = live.channels["CH1"] if info.channel else live
    query, command = info.query, info.command
    if info.family is not None and info.family[0] == family:
        query, command = info.family[1], info.family[2]
    select = ["INST:SEL 0"] if info.channel and family == "Series6310" else []
    if not supported(info, family):
        with pytest.raises(tarvek.Error) as refused:
            getattr(owner, info.python_name)
        assert refused.value.code == status(0xBFFA0012)
        assert emulator.lines() == []
        return
    if info.writable and command:
        value = sample(info, family, model, False)
        setattr(owner, info.python_name, value)
        assert emulator.lines() == select + [
            command.replace("%0.15lg", "%s").replace("%ld", "%s") %
            word(info, value, family, model)]
        emulator.clear()
        live.invalidate_all_attributes()
    read = getattr(owner, info.python_name)
    assert isinstance(read, PYTHON_TYPE[info.c_type]), (info.name, read)
    if query == "*ESR?":  # the status register itself: its read is followed by a status check
        assert emulator.lines(status_checks=True)[:1] == [query]
    else:
        assert emulator.lines() == select + [query]


def test_enums_take_members_values_and_names(simulated: tarvek.Session) -> None:
    if family_of(simulated) == "Series6510":
        pytest.skip("output pairing exists on Series6310 only")
    cases = [(tarvek.OutputMode.SERIES2, tarvek.OutputMode.SERIES2), (5, tarvek.OutputMode.TRACK2),
             ("parallel3", tarvek.OutputMode.PARALLEL3), ("OFF", tarvek.OutputMode.OFF)]
    for value, expected in cases:
        simulated.output_mode = value
        read = simulated.output_mode
        assert read is expected, value
        assert repr(read).startswith("<OutputMode.")
    with pytest.raises(ValueError, match="SERIES2"):
        simulated.output_mode = "series9"
    assert issubclass(tarvek.OutputMode, enum.IntEnum)
    assert tarvek.ListPace.DWELL == 0 and tarvek.ListPace.TRIGGER == 1


def test_booleans_are_bools_both_ways(emulator: Emulator, live: tarvek.Session) -> None:
    for value, sent in ((1, "1"), (0, "0"), (True, "1"), ([], "0")):
        live.beeper_enabled = value
        assert emulator.lines() == [f"SYST:BEEP:STAT {sent}"]
        emulator.clear()
        live.invalidate_all_attributes()
        assert live.beeper_enabled is bool(value)
        emulator.clear()


def test_numbers_are_checked_before_sending(emulator: Emulator, live: tarvek.Session) -> None:
    live.current_slew_rate = 2  # an int is a fine real
    assert emulator.lines() == ["SOUR:CURR:SLOP 2"]
    emulator.clear()
    for bad in ("5", None):
        with pytest.raises(Exception):
            live.current_slew_rate = bad  # type: ignore[assignment]
    with pytest.raises(Exception):
        live.standard_event_enable_register = 1.5  # type: ignore[assignment]
    assert emulator.lines() == []
