"""The package as an IVI-Python driver: the root class and its constructor,
the utility and direct I/O classes member by member, collection-style
channels, the naming rules, and the newcomer's traps (a misspelt attribute,
a refused value that looks accepted), in simulation and with the emulator."""
from __future__ import annotations

import enum
import inspect
import keyword
import re
import typing
from pathlib import Path
from typing import Any, Callable, List, Tuple

import pytest

import tarvek
from conftest import MODELS, Emulator

# The IVI-Python abstract classes, member by member: "r" a read-only
# property, "rw" a read-write one, "method" a method.
UTILITY = [("driver_version", "r"), ("driver_vendor", "r"), ("instrument_manufacturer", "r"),
           ("instrument_model", "r"), ("query_instrument_status_enabled", "rw"),
           ("simulation_enabled", "r"), ("error_query", "method"), ("error_query_all", "method"),
           ("raise_on_device_error", "method"), ("reset", "method"),
           ("supported_instrument_models", "r")]
DIRECT_IO = [("session", "r"), ("io_timeout_ms", "rw"), ("read_bytes", "method"),
             ("read_string", "method"), ("write_bytes", "method"), ("write_string", "method")]
SNAKE = re.compile(r"^_?[a-z][a-z0-9]*(_[a-z0-9]+)*$")
PASCAL = re.compile(r"^[A-Z][A-Za-z0-9]*$")
UPPER = re.compile(r"^[A-Z][A-Z0-9]*(_[A-Z0-9]+)*$")


def kind_of(cls: type, name: str) -> str:
    member = inspect.getattr_static(cls, name)
    if isinstance(member, property):
        return "rw" if member.fset is not None else "r"
    return "method" if callable(member) else "other"


@pytest.mark.parametrize("abstract, concrete, members", [
    (tarvek.IviUtility, tarvek.TarvekUtility, UTILITY),
    (tarvek.IviDirectIo, tarvek.TarvekDirectIo, DIRECT_IO)], ids=["IviUtility", "IviDirectIo"])
def test_the_ivi_classes_have_every_member_with_its_kind(abstract: type, concrete: type,
                                                         members: List[Tuple[str, str]]) -> None:
    assert set(getattr(abstract, "__abstractmethods__")) == {name for name, _ in members}
    assert issubclass(concrete, abstract) and not getattr(concrete, "__abstractmethods__")
    for name, kind in members:
        assert (name, kind_of(abstract, name)) == (name, kind)
        assert (name, kind_of(concrete, name)) == (name, kind)


def test_the_utility_types_are_the_ivi_types() -> None:
    hints = {name: typing.get_type_hints(getattr(tarvek.TarvekUtility, name).fget)["return"]
             for name, kind in UTILITY if kind != "method"}
    assert hints == {"driver_version": str, "driver_vendor": str,
                     "instrument_manufacturer": str, "instrument_model": str,
                     "query_instrument_status_enabled": bool, "simulation_enabled": bool,
                     "supported_instrument_models": Tuple[str, ...]}
    result = tarvek.ErrorQueryResult(-222, "Data out of range")
    assert (result.code, result.message) == (-222, "Data out of range")
    assert str(result) == '-222, "Data out of range"'


def test_the_root_class_is_named_after_the_driver_identifier(simulated: tarvek.Tarvek) -> None:
    # The identifier is the driver prefix; the class is its Pascal case and
    # the import package its lower case.
    prefix = simulated.specific_driver_prefix
    assert tarvek.__name__ == prefix.lower()
    assert tarvek.Tarvek.__name__ == prefix.capitalize()
    assert tarvek.Session is tarvek.Tarvek and type(simulated) is tarvek.Tarvek
    parameters = inspect.signature(tarvek.Tarvek).parameters
    assert [(p.name, p.default) for p in parameters.values()] == [
        ("resource_name", inspect.Parameter.empty), ("id_query", True), ("reset", False),
        ("options", None)]
    assert set(typing.get_type_hints(tarvek.Options)) == {
        "simulate", "cache", "range_check", "query_instrument_status", "record_coercions",
        "interchange_check", "driver_setup"}


def test_public_names_follow_pep8() -> None:
    for name in tarvek.__all__:
        thing = getattr(tarvek, name)
        if isinstance(thing, type):
            assert PASCAL.match(name), name
            constants = enum.IntEnum in thing.__mro__
            for member in vars(thing):
                if member.startswith("_"):
                    continue
                pattern = UPPER if constants else SNAKE
                assert pattern.match(member), f"{name}.{member}"
        elif callable(thing):
            assert SNAKE.match(name), name
    for cls in (tarvek.Tarvek, tarvek.OutputChannel, tarvek.TarvekUtility):
        for member in dir(cls):
            assert member.startswith("_") or SNAKE.match(member), f"{cls.__name__}.{member}"
            assert not keyword.iskeyword(member)


def test_the_package_is_typed_and_semantically_versioned() -> None:
    package = Path(tarvek.__file__).parent
    assert (package / "py.typed").is_file()
    assert re.fullmatch(r"\d+\.\d+\.\d+", tarvek.__version__)
    pyproject = Path(__file__).resolve().parents[2] / "python" / "pyproject.toml"
    text = pyproject.read_text(encoding="utf-8")
    assert f'version = "{tarvek.__version__}"' in text
    keywords = re.search(r"keywords = \[(.*?)\]", text, re.S)
    assert keywords is not None
    with tarvek.Tarvek("", options={"simulate": True}) as session:
        named = {item.strip().strip('"') for item in keywords.group(1).split(",")}
        assert session.ivi_utility.instrument_manufacturer in named
        assert set(session.ivi_utility.supported_instrument_models) <= named


# A misspelt or misplaced attribute: (object, name, what the message says).
TRAPS: List[Tuple[Callable[[tarvek.Tarvek], Any], str, str]] = [
    (lambda s: s, "voltage_level", "session.channels['CH1'].voltage_level"),
    (lambda s: s, "ocp_enable", "did you mean 'ocp_enabled'?"),
    (lambda s: s.channels["CH1"], "voltage_levl", "did you mean 'voltage_level'?"),
    (lambda s: s.channels["CH1"], "ocp_enable", "did you mean 'ocp_enabled'?"),
    (lambda s: s.channels, "name", "did you mean 'names'?"),
    (lambda s: s.ivi_utility, "query_instrument_status", "query_instrument_status_enabled"),
    (lambda s: s.ivi_direct_io, "io_timeout", "did you mean 'io_timeout_ms'?"),
]


@pytest.mark.parametrize("target, name, hint", TRAPS, ids=[f"{n}-{i}" for i, (_, n, _) in
                                                          enumerate(TRAPS)])
def test_unknown_attributes_are_refused_with_the_closest_name(simulated: tarvek.Tarvek,
                                                              target: Callable[..., Any],
                                                              name: str, hint: str) -> None:
    owner = target(simulated)
    with pytest.raises(AttributeError) as error:
        setattr(owner, name, 5)
    assert hint in str(error.value)
    assert not hasattr(owner, name) or name == "query_instrument_status"


def test_read_only_properties_stay_read_only(simulated: tarvek.Tarvek) -> None:
    for owner, name in ((simulated.channels["CH1"], "name"), (simulated, "resource_name"),
                        (simulated.ivi_utility, "driver_vendor")):
        with pytest.raises(AttributeError):
            setattr(owner, name, "x")


def test_status_checking_is_on_unless_turned_off() -> None:
    cases: List[Tuple[Any, bool]] = [
        ({"simulate": True}, True), ("Simulate=1", True),
        ({"simulate": True, "query_instrument_status": False}, False),
        ("Simulate=1,QueryInstrStatus=0", False),
        ("Simulate=1, queryinstrstatus = false", False),
        ({"simulate": True, "driver_setup": "Model:6512"}, True)]
    for options, expected in cases:
        with tarvek.Tarvek("", options=options) as session:
            assert session.ivi_utility.query_instrument_status_enabled is expected, options
            assert session.query_instrument_status is expected
            session.ivi_utility.query_instrument_status_enabled = not expected
            assert session.query_instrument_status is (not expected)


def test_utility_answers_in_simulation(simulated: tarvek.Tarvek) -> None:
    utility = simulated.ivi_utility
    assert utility.simulation_enabled is True
    assert utility.driver_version == tarvek.__version__
    assert utility.driver_vendor == simulated.specific_driver_vendor
    assert utility.instrument_manufacturer and utility.instrument_model
    assert utility.supported_instrument_models == tuple(
        simulated.supported_instrument_models.split(","))
    assert utility.error_query() is None and list(utility.error_query_all()) == []
    utility.raise_on_device_error()
    utility.reset()


def test_channels_are_a_collection_checked_when_indexed(simulated: tarvek.Tarvek) -> None:
    channels = simulated.channels
    assert isinstance(channels, tarvek.OutputChannelCollection)
    assert tarvek.Channels is tarvek.OutputChannelCollection
    names = channels.names
    for key, expected in [("CH1", "CH1"), ("ch1", "CH1"), (" Ch1 ", "CH1"), (0, "CH1"),
                          (-1, names[-1])]:
        channel = channels[key]
        assert type(channel) is tarvek.OutputChannel and channel.name == expected, key
        assert simulated.channels_item(key) == channel
    with pytest.raises(KeyError) as error:
        channels["CH4"]
    assert isinstance(error.value, tarvek.Error)
    assert "CH4" in str(error.value) and ", ".join(names) in str(error.value)
    assert channels[channels[0]] == channels[0]
    if len(names) == 1:
        assert channels[""].name == "CH1"
        assert simulated.measure("", tarvek.MeasurementType.VOLTAGE) == 0.0
        return
    with pytest.raises(tarvek.UnknownChannelError):
        channels[""]
    for key in (["ch1", "CH3"], ("CH1", 2), "ch1,ch3"):
        group = channels[key]  # type: ignore[index]
        assert type(group) is tarvek.ChannelGroup and group.names == ["CH1", "CH3"], key
    assert channels[1:].names == names[1:]
    assert channels[["CH1", channels["CH2"]]].names == ["CH1", "CH2"]


def test_enums_print_by_name() -> None:
    member = tarvek.MeasurementType.VOLTAGE
    assert str(member) == "MeasurementType.VOLTAGE" and f"{member}" == str(member)
    assert member == 1 and f"{member:d}" == "1"


def test_channel_arguments_take_names_in_any_case_and_channels(emulator: Emulator,
                                                               live: tarvek.Tarvek) -> None:
    last = live.channels[-1]
    expected = live.channels.names[-1]
    live.measure(last, tarvek.MeasurementType.VOLTAGE)
    live.measure(expected.lower(), tarvek.MeasurementType.VOLTAGE)
    select = [f"INST:SEL {len(live.channels) - 1}"] if len(live.channels) > 1 else []
    assert emulator.lines() == (select + ["MEAS:SCAL:VOLT:DC?"]) * 2
    with pytest.raises(tarvek.Error):
        live.measure("CH9", tarvek.MeasurementType.VOLTAGE)


def test_unknown_channel_fails_before_anything_is_sent(emulator: Emulator,
                                                       live: tarvek.Tarvek) -> None:
    with pytest.raises(tarvek.UnknownChannelError, match="CH1"):
        live.channels["CH4"]
    assert emulator.lines() == []


def test_a_refused_value_raises_with_the_instruments_text(emulator: Emulator) -> None:
    # Opened without any options: status checking is on by default, so
    # the instrument's refusal is an exception, not a silent no.
    with tarvek.Tarvek(emulator.resource) as psu:
        psu.range_check = False
        with pytest.raises(tarvek.Error) as error:
            psu.channels["CH1"].voltage_level = 75.0
        assert "Data out of range" in str(error.value)
        assert psu.ivi_utility.error_query() is None  # read into the exception
    with tarvek.Tarvek(emulator.resource, options={"query_instrument_status": False}) as fast:
        fast.range_check = False
        fast.channels["CH1"].voltage_level = 75.0  # nothing asked: it looks accepted
        with pytest.raises(tarvek.Error, match="Data out of range"):
            fast.ivi_utility.raise_on_device_error()


def test_utility_and_direct_io_against_the_instrument(emulator: Emulator,
                                                      live: tarvek.Tarvek) -> None:
    utility, io = live.ivi_utility, live.ivi_direct_io
    assert utility.simulation_enabled is False
    assert utility.instrument_model == emulator.model
    assert utility.instrument_manufacturer == live.instrument_manufacturer
    io.io_timeout_ms = 4000
    assert io.io_timeout_ms == 4000
    assert io.session
    emulator.clear()
    io.write_string("*IDN?\n")
    identity = io.read_string()
    assert emulator.model in identity and identity.endswith("\n")
    io.write_bytes(b"SYST:ERR?\n")
    assert io.read_bytes().startswith(b"0,")
    assert emulator.lines() == ["*IDN?", "SYST:ERR?"]
    io.write_string("VOLT:BOGUS 1\n")
    errors = list(utility.error_query_all())
    assert errors and errors[0].code < 0 and errors[0].message
    assert utility.error_query() is None


def test_protection_is_read_per_channel_under_the_lock(emulator: Emulator,
                                                       live: tarvek.Tarvek) -> None:
    last = live.channels[-1]
    first = live.channels["CH1"]
    last.ocp_enabled = True
    assert last.ocp_enabled is True
    with live.locked():
        if len(live.channels) > 1:
            live.selected_channel = len(live.channels) - 1  # type: ignore[assignment]
        live.current_protection_level = 0.005
    last.current_limit = 1.0
    last.voltage_level = 10.0  # 10 mA into the emulator's 1 kOhm load
    last.output_enabled = True
    first.voltage_level = 1.0  # moves the selected channel away
    assert last.ocp_tripped is True and last.ovp_tripped is False
    if len(live.channels) > 1:
        assert first.ocp_tripped is False
    last.ocp_enabled = False
    last.clear_protection()  # switches the output back on
    assert last.ocp_tripped is False and last.output_enabled is True
    volts = last.voltage_level
    assert last.voltage == pytest.approx(volts) and last.current == pytest.approx(volts / 1000)
    assert last.power == pytest.approx(volts * volts / 1000)
    group = live.channels[:]
    assert group.ocp_tripped == [False] * len(live.channels)
    assert group.voltage[-1] == pytest.approx(volts) and len(group.power) == len(live.channels)


def test_models_of_the_emulator_are_supported() -> None:
    with tarvek.Tarvek("", options={"simulate": True}) as session:
        supported = session.ivi_utility.supported_instrument_models
    assert all(any(model in name for name in supported) for model in ("631", "651"))
    assert set(MODELS) == {"Series6310", "Series6510"}


def test_channel_numbers_take_channel_names_and_channels(emulator: Emulator,
                                                         live: tarvek.Tarvek) -> None:
    last = live.channels[-1]
    number = tarvek.SelectedChannel(len(live.channels) - 1)
    sent = []
    for channel in (number, last.name.lower(), last, number.name.lower(), int(number)):
        live.abort_list(channel)
        sent.append(emulator.lines())
        emulator.clear()
    assert sent[0] and all(lines == sent[0] for lines in sent), sent
    with pytest.raises(tarvek.UnknownChannelError, match="CH9"):
        live.abort_list("CH9")
    if len(live.channels) > 1:
        with pytest.raises(ValueError, match="one channel"):
            live.abort_list(live.channels[:])
    assert emulator.lines() == []
