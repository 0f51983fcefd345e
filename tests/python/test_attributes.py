"""Every attribute as a property: types, round trips in simulation, the exact
bytes a live write and read send, enum and bool conversions. Table-driven
from the metadata the package was generated with."""
from __future__ import annotations

import enum
import os
import re
from fractions import Fraction
from pathlib import Path
from typing import Any, List

import pytest

import tarvek
from conftest import Emulator, family_of, supported

ATTRIBUTES = {info.name: info for info in tarvek.ATTRIBUTES}
SOURCE = Path(os.environ.get("TARVEK_SOURCE_DIR", Path(__file__).resolve().parents[2]))
# The attributes the public header defines, each with an id and a type comment.
HEADER_ATTRIBUTES = set(re.findall(
    r"#define\s+TARVEK_ATTR_(\w+)\s+\d+\s*/\*\s*Vi\w+,",
    (SOURCE / "include" / "TARVEK.h").read_text(encoding="utf-8")))
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
    assert {info.name for info in tarvek.ATTRIBUTES} == HEADER_ATTRIBUTES
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


class Index:
    """An integer that is not an int, as numpy's integer types are: it has
    __index__ and nothing else."""

    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


def test_booleans_are_bools_both_ways(emulator: Emulator, live: tarvek.Session) -> None:
    for value, sent in ((True, "1"), (False, "0"), (1, "1"), (0, "0"), (Index(1), "1")):
        live.beeper_enabled = value
        assert emulator.lines() == [f"SYST:BEEP:STAT {sent}"]
        emulator.clear()
        live.invalidate_all_attributes()
        assert live.beeper_enabled is (sent == "1")
        emulator.clear()


# Values a property refuses, by the attribute's type, and the exception. None
# of them may be judged by its truth, rounded or wrapped into another value.
REFUSED_VALUES = {
    "output_enabled": [("off", TypeError), ("no", TypeError), ("false", TypeError),
                       ("0", TypeError), ("", TypeError), (None, TypeError), ([], TypeError),
                       (1.0, TypeError), (b"1", TypeError), (2, ValueError),
                       (-1, ValueError), (Index(2), ValueError)],
    "standard_event_enable_register": [(1.5, TypeError), (60.0, TypeError), ("60", TypeError),
                                       (True, TypeError), (None, TypeError),
                                       (2**32 + 1, ValueError), (2**31, ValueError),
                                       (-2**31 - 1, ValueError)],
    "output_mode": [(3.7, TypeError), (3.0, TypeError), (True, TypeError), (None, TypeError),
                    (2**32 + 1, ValueError), (-2**31 - 1, ValueError), ("series9", ValueError)],
    "current_slew_rate": [(True, TypeError), ("5", TypeError), (None, TypeError),
                          (b"5", TypeError), (10**400, ValueError),
                          (float("nan"), tarvek.InvalidValueError),
                          (float("inf"), tarvek.InvalidValueError)],
    "system_date": [(20261207, TypeError), (None, TypeError), (b"2026,12,7", TypeError)],
}


@pytest.mark.parametrize("attribute", sorted(REFUSED_VALUES))
def test_values_of_the_wrong_type_or_range_are_refused(emulator: Emulator, live: tarvek.Session,
                                                       attribute: str) -> None:
    info = next(info for info in tarvek.ATTRIBUTES if info.python_name == attribute)
    if not supported(info, emulator.family):  # type: ignore[attr-defined]
        pytest.skip(f"{info.name} is not supported on {emulator.family}")  # type: ignore
    owner: Any = live.channels["CH1"] if info.channel else live
    before = getattr(owner, attribute)
    emulator.clear()
    for value, exception in REFUSED_VALUES[attribute]:
        with pytest.raises(exception) as error:
            setattr(owner, attribute, value)
        if exception in (TypeError, ValueError) and attribute != "output_mode":
            assert attribute in str(error.value), str(error.value)
        assert emulator.lines() == [], value
    live.invalidate_all_attributes()
    assert getattr(owner, attribute) == before


def test_numbers_are_checked_before_sending(emulator: Emulator, live: tarvek.Session) -> None:
    for value, sent in ((2, "2"), (Index(3), "3"), (Fraction(1, 2), "0.5"), (1.25, "1.25")):
        live.current_slew_rate = value
        assert emulator.lines() == [f"SOUR:CURR:SLOP {sent}"]
        emulator.clear()
    live.standard_event_enable_register = Index(60)
    assert emulator.lines() == ["*ESE 60"]
    emulator.clear()
    with pytest.raises(TypeError, match="current_slew_rate takes a float or an int, not '5'"):
        live.current_slew_rate = "5"  # type: ignore[assignment]
    with pytest.raises(TypeError, match="standard_event_enable_register takes an int, not 1.5"):
        live.standard_event_enable_register = 1.5  # type: ignore[assignment]
    with pytest.raises(ValueError, match="from -2147483648 to 2147483647, not 4294967297"):
        live.standard_event_enable_register = 2**32 + 1
    with pytest.raises(TypeError, match=r"output_enabled takes a bool \(True or False, or 1 or 0\)"):
        live.channels["CH1"].output_enabled = "off"  # type: ignore[assignment]
    assert emulator.lines() == []


def test_function_arguments_are_checked_alike(emulator: Emulator, live: tarvek.Session) -> None:
    refused = [
        (lambda: live.configure_output_enabled("CH1", "off"), TypeError, "enabled takes a bool"),
        (lambda: live.channels["CH1"].configure_ovp("no", 5.0), TypeError, "enabled takes a bool"),
        (lambda: live.channels["CH1"].configure_ovp(True, "5"), TypeError, "limit takes a float"),
        (lambda: live.configure_voltage_level("CH1", True), TypeError, "level takes a float"),
        (lambda: live.save_state(1.0), TypeError, "takes an int"),
        (lambda: live.save_state(2**32 + 1), ValueError, "not 4294967297"),
        (lambda: live.channels["CH1"].measure(0.0), TypeError, "MeasurementType member"),
        (lambda: live.channels["CH1"].measure(2**32), ValueError, "not 4294967296"),
    ]
    for call, exception, message in refused:
        with pytest.raises(exception, match=re.escape(message)):
            call()
    assert emulator.lines() == []
    # NaN is the driver's to refuse, after the channel selection it makes first.
    with pytest.raises(tarvek.InvalidValueError, match="NaN"):
        live.configure_voltage_level("CH1", float("nan"))
    assert [line for line in emulator.lines() if not line.startswith("INST:SEL")] == []


# A catalogue range as AttributeInfo gives it: "min 0, max 60", or one per
# family ("Series6310 min 3, max 3, Series6510 min 1, max 1").
RANGE_RE = re.compile(r"(?:(Series\d+) )?min (-?[0-9.e+-]+), max (-?[0-9.e+-]+)")


def limits(info: tarvek.AttributeInfo, family: str) -> Any:
    for owner, low, high in RANGE_RE.findall(info.range or ""):
        if not owner or owner == family:
            return float(low), float(high)
    return None


# Values just past a limit that the driver takes with a meaning of its own.
PAST_LIMIT_MEANINGS = {("SYSTEM_IO_TIMEOUT", -1): "VI_TMO_INFINITE, VISA's endless timeout"}


def ranged_cases() -> List[tarvek.AttributeInfo]:
    return [info for info in tarvek.ATTRIBUTES if info.writable and info.enum is None
            and info.c_type in ("ViReal64", "ViInt32") and info.range]


@pytest.mark.parametrize("info", ranged_cases(), ids=lambda info: info.name)
def test_values_at_and_just_past_each_limit_on_the_instrument(
        emulator: Emulator, live: tarvek.Session, info: tarvek.AttributeInfo) -> None:
    """Each limit of the catalogue's range is taken by the instrument; a value
    just past it is refused (by the driver's range check, by the instrument,
    whose reason the error carries, or by the package when the C type cannot
    hold it) or coerced into the range."""
    family = emulator.family  # type: ignore[attr-defined]
    bounds = limits(info, family)
    if not supported(info, family) or bounds is None:
        pytest.skip(f"{info.name} has no range on {family}")
    owner: Any = live.channels["CH1"] if info.channel else live
    integer = info.c_type == "ViInt32"
    low, high = bounds

    def number(value: float) -> Any:
        return int(round(value)) if integer else float(value)

    live.reset()  # the limits of one setting depend on others (a level on its maximum)
    original = getattr(owner, info.python_name)
    for limit in (low, high):
        setattr(owner, info.python_name, number(limit))
        live.invalidate_all_attributes()
        assert getattr(owner, info.python_name) == pytest.approx(number(limit)), limit
    for past in (low - (1 if integer else max(1e-3, abs(low) * 1e-6)),
                 high + (1 if integer else max(1e-3, abs(high) * 1e-6))):
        if (info.name, number(past)) in PAST_LIMIT_MEANINGS:
            setattr(owner, info.python_name, number(past))
            assert getattr(owner, info.python_name) == number(past)
            continue
        try:
            setattr(owner, info.python_name, number(past))
        except tarvek.Error as error:
            assert error.code in (status(0xBFFA0001), status(0xBFFA0010)), (past, error)
            assert error.description
        except ValueError as error:  # past what the C type holds: the package refuses it
            assert "takes an int from -2147483648 to 2147483647" in str(error), past
        else:
            live.invalidate_all_attributes()
            assert low <= getattr(owner, info.python_name) <= high, past
    setattr(owner, info.python_name, original)


@pytest.mark.parametrize("timeout, taken", [(0, True), (2500, True), (-1, True), (-2, False),
                                             (-1000, False), (-2**31, False)])
def test_io_timeout_takes_milliseconds_or_infinite_and_refuses_other_negatives(
        emulator: Emulator, live: tarvek.Session, timeout: int, taken: bool) -> None:
    live.system_io_timeout = 3000
    if taken:
        live.system_io_timeout = timeout
        assert live.system_io_timeout == timeout
    else:
        with pytest.raises(tarvek.Error) as error:
            live.system_io_timeout = timeout
        assert error.value.code == status(0xBFFA0010)
        assert "-1 (VI_TMO_INFINITE)" in error.value.description
        assert live.system_io_timeout == 3000
    live.system_io_timeout = 3000
    assert emulator.lines() == []
