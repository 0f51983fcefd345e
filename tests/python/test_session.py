"""Sessions, channel lists, errors and warnings, options, closing, logical
and virtual names, and two threads on one session."""
from __future__ import annotations

import os
import re
import threading
import warnings
from pathlib import Path

import pytest

import tarvek
from conftest import Emulator, MODELS
from test_attributes import status

STORE = Path(__file__).resolve().parents[2] / "examples" / "logical_name" / "tarvek-store.xml"


def test_channels_iterate_index_and_contain(emulator: Emulator, live: tarvek.Session) -> None:
    expected = ["CH1", "CH2", "CH3"] if emulator.family == "Series6310" else ["CH1"]  # type: ignore
    channels = live.channels
    assert [channel.name for channel in channels] == expected
    assert len(channels) == len(expected) and channels.names == expected
    assert channels[0].name == "CH1" and channels[-1].name == expected[-1]
    assert "ch1" in channels and "CH4" not in channels and channels[0] in channels
    assert channels["CH1"] == channels[0]
    with pytest.raises(IndexError):
        channels[len(expected)]
    with pytest.raises(TypeError):
        channels[1.5]  # type: ignore[index]
    assert emulator.lines() == []


@pytest.mark.parametrize("selector, names", [
    ("CH1-CH3", ["CH1", "CH2", "CH3"]), ("[CH2-CH3]", ["CH2", "CH3"]),
    ("CH1,CH3", ["CH1", "CH3"]), ("ch3", ["CH3"]), ("CH2:CH3", ["CH2", "CH3"])])
def test_selectors_name_channels(simulated: tarvek.Session, selector: str, names: list) -> None:
    if simulated.channel_count == 1:
        pytest.skip("one output")
    assert simulated.channels[selector].names == names


def test_a_write_goes_to_every_channel_and_a_read_gives_a_list(emulator: Emulator,
                                                               live: tarvek.Session) -> None:
    if emulator.family == "Series6510":  # type: ignore[attr-defined]
        pytest.skip("one output")
    group = live.channels["CH1-CH3"]
    assert isinstance(group, tarvek.ChannelGroup) and group.names == ["CH1", "CH2", "CH3"]
    assert type(live.channels["CH2"]) is tarvek.OutputChannel
    group.voltage_level = 7.5
    assert emulator.lines() == ["INST:SEL 0", "SOUR:VOLT:LEV:IMM:AMPL 7.5",
                                "INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 7.5",
                                "INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL 7.5"]
    live.invalidate_all_attributes()
    emulator.clear()
    assert group.voltage_level == [7.5, 7.5, 7.5]
    assert emulator.lines() == ["INST:SEL 0", "SOUR:VOLT:LEV:IMM:AMPL?",
                                "INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL?",
                                "INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL?"]
    assert live.channels["CH2"].voltage_level == 7.5  # cached now: nothing sent
    assert live.channels["CH1,CH3"].output_enabled == [False, False]
    assert live.channels.group("CH2").voltage_level == [7.5]  # a group of one is still a list


def test_bad_channel_names_are_refused_with_the_drivers_text(emulator: Emulator,
                                                             live: tarvek.Session) -> None:
    for selector in ("CH9", "Nowhere", "CH1-"):
        with pytest.raises(tarvek.Error) as error:
            live.channels[selector].voltage_level = 1.0
        assert error.value.code < 0
        assert error.value.description and "0x" in str(error.value)
    assert emulator.lines() == []


def test_error_carries_code_and_text_and_the_instrument_reasons(emulator: Emulator,
                                                                live: tarvek.Session) -> None:
    with pytest.raises(tarvek.Error) as error:
        live.channels["CH1"].voltage_level = 75.0  # beyond the 60 V rating
    assert error.value.code == status(0xBFFA0001)
    assert "Instrument error detected." in error.value.description
    assert error.value.instrument_errors == [(-222, "Data out of range")]
    assert str(error.value).startswith("TARVEK_SetAttributeViReal64: 0xBFFA0001: ")
    assert str(error.value).endswith('The instrument reports: -222, "Data out of range".')
    assert live.error_query().error_code == 0  # the queue was read into the error


def test_live_refusals_send_nothing(emulator: Emulator, live: tarvek.Session) -> None:
    with pytest.raises(tarvek.Error) as error:
        live.channels["CH1"].trigger_source = tarvek.TriggerSource.TRIG_TTL0
    assert error.value.code == status(0xBFFA0013)
    assert "TARVEK_VAL_TRIG_TTL0" in error.value.description
    assert emulator.lines() == []


def test_driver_refusals_name_what_was_wrong(simulated: tarvek.Session) -> None:
    with pytest.raises(tarvek.Error) as error:
        simulated.channels["CH1"].ovp_enabled = False
    assert error.value.code == status(0xBFFA0013)
    assert "VI_FALSE" in error.value.description and "OVP_ENABLED" in error.value.description
    with pytest.raises(tarvek.Error) as error:
        simulated.write("*IDN?\n")
    assert error.value.code == status(0xBFFA4214)
    assert "simulation" in error.value.description


def test_warnings_are_reported_as_driver_warnings(simulated: tarvek.Session) -> None:
    # No call of this driver warns on its own in these conditions; the status
    # path is the one every call takes.
    with pytest.warns(tarvek.DriverWarning) as caught:
        simulated._report(0x3FFA0066, tarvek._library.LIB.TARVEK_reset)
    warning = caught[0].message
    assert isinstance(warning, tarvek.DriverWarning)
    assert warning.code == 0x3FFA0066
    assert warning.description == "Reset is not supported by this instrument."
    assert caught[0].filename == __file__  # attributed to the caller
    with warnings.catch_warnings():
        warnings.simplefilter("error", tarvek.DriverWarning)
        with pytest.raises(tarvek.DriverWarning):
            simulated._report(0x3FFA0067, tarvek._library.LIB.TARVEK_self_test)


def test_init_failures_explain_themselves() -> None:
    with pytest.raises(tarvek.Error) as error:
        tarvek.Session("", options="Simulate=maybe")
    assert error.value.code == status(0xBFFA004C)
    assert "maybe" in error.value.description
    with pytest.raises(tarvek.Error) as error:
        tarvek.Session("", options={"simulate": True, "driver_setup": "Model:9999"})
    assert "9999" in error.value.description
    with pytest.raises(tarvek.Error) as error:
        tarvek.Session("TCPIP::127.0.0.1::1::SOCKET")
    assert error.value.code == status(0xBFFF0011)  # VI_ERROR_RSRC_NFOUND, in VISA's words
    assert error.value.description.startswith("VI_ERROR_RSRC_NFOUND: ")
    with tarvek.Session("", options="Simulate=1") as session:
        assert session.error_message(status(0xBFFF0015)).startswith("VI_ERROR_TMO: ")
    with pytest.raises(ValueError, match="unknown option 'simulat'"):
        tarvek.Session("", options={"simulat": True})
    with pytest.raises(ValueError, match="boolean"):
        tarvek.Session("", options={"cache": "often"})


@pytest.mark.parametrize("options, text", [
    (None, ""), ("Simulate=1", "Simulate=1"),
    ({"simulate": True, "range_check": False}, "Simulate=1,RangeCheck=0"),
    ({"driver_setup": "Model:6510", "Cache": True}, "Cache=1,DriverSetup=Model:6510"),
    ({"query_instr_status": "true", "driver_setup": {"Model": "6512", "Trace": "x"}},
     "QueryInstrStatus=true,DriverSetup=Model:6512,Trace:x")])
def test_option_strings(options: object, text: str) -> None:
    assert tarvek.option_string(options) == text  # type: ignore[arg-type]


def test_options_reach_the_session() -> None:
    options = {"simulate": True, "range_check": False, "cache": False,
               "driver_setup": "Model:6510"}
    with tarvek.Session("", options=options) as session:
        assert session.simulate is True and session.range_check is False
        assert session.cache is False and session.channel_count == 1
        assert session.instrument_model == "6510" and session.driver_setup == "Model:6510"


def test_context_manager_closes_on_exceptions(emulator: Emulator) -> None:
    with pytest.raises(RuntimeError):
        with tarvek.Session(emulator.resource) as session:
            assert not session.closed
            raise RuntimeError("the test fails half-way")
    assert session.closed and session.handle == 0
    with pytest.raises(tarvek.Error, match="The session is closed."):
        session.voltage_protection_level
    with pytest.raises(tarvek.Error, match="The session is closed."):
        session.channels["CH1"].voltage_level = 1.0
    session.close()  # again: nothing happens


def test_direct_io_round_trips(emulator: Emulator, live: tarvek.Session) -> None:
    assert live.write("*IDN?\n") == 6
    assert live.read() == f"Norvale,{emulator.model},SN000001,1.02\n"
    assert live.query("SYST:VERS?") == "1999.0"
    assert live.read.__doc__ and live.system_io_timeout > 0
    assert emulator.lines() == ["*IDN?", "SYST:VERS?"]


def test_a_logical_name_and_its_virtual_names(emulator: Emulator, tmp_path: Path,
                                             monkeypatch: pytest.MonkeyPatch) -> None:
    if emulator.family == "Series6510":  # type: ignore[attr-defined]
        pytest.skip("the store's names map to CH2")
    store = re.sub(r'resourceDescriptor="[^"]*"', f'resourceDescriptor="{emulator.resource}"',
                   STORE.read_text(encoding="utf-8"))
    (tmp_path / "store.xml").write_text(store, encoding="utf-8")
    monkeypatch.setenv("IVI_CONFIG_STORE", str(tmp_path / "store.xml"))
    with tarvek.Session("BenchPSU") as session:
        assert session.logical_name == "BenchPSU"
        emulator.clear()
        session.channels["Motor"].voltage_level = 12.0
        assert emulator.lines() == ["INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 12"]
        levels = session.channels["Logic,Motor"].voltage_level
        assert isinstance(levels, list) and len(levels) == 2 and levels[1] == 12.0


# One case rule: physical and virtual names alike are taken in any case, and
# a virtual name stands for its physical channel everywhere a channel is
# meant, the per-channel protection and measurements included.
VIRTUAL_NAME_CASES = [
    ("motor", lambda channel: channel.ocp_tripped, ["INST:SEL 1", "SOUR:CURR:PROT:TRIP?"]),
    ("MOTOR", lambda channel: channel.ovp_tripped, ["INST:SEL 1", "SOUR:VOLT:PROT:TRIP?"]),
    ("Motor", lambda channel: setattr(channel, "ocp_enabled", True),
     ["INST:SEL 1", "SOUR:CURR:PROT:STAT 1"]),
    ("mOtOr", lambda channel: channel.voltage, ["INST:SEL 1", "MEAS:SCAL:VOLT:DC?"]),
    ("logic", lambda channel: channel.clear_protection(), ["INST:SEL 0", "OUTP:PROT:CLE"]),
    ("Logic,motor", lambda group: group.ocp_enabled,
     ["INST:SEL 0", "SOUR:CURR:PROT:STAT?", "INST:SEL 1", "SOUR:CURR:PROT:STAT?"]),
    ("ch3", lambda channel: channel.ocp_tripped, ["INST:SEL 2", "SOUR:CURR:PROT:TRIP?"]),
]


def test_virtual_names_work_in_any_case_wherever_a_channel_is_meant(
        emulator: Emulator, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    if emulator.family == "Series6510":  # type: ignore[attr-defined]
        pytest.skip("the store's names map to CH1 and CH2 of a three-output model")
    store = re.sub(r'resourceDescriptor="[^"]*"', f'resourceDescriptor="{emulator.resource}"',
                   STORE.read_text(encoding="utf-8"))
    (tmp_path / "store.xml").write_text(store, encoding="utf-8")
    monkeypatch.setenv("IVI_CONFIG_STORE", str(tmp_path / "store.xml"))
    with tarvek.Session("BenchPSU", options={"cache": False}) as session:
        channels = session.channels
        assert "motor" in channels and "LOGIC" in channels and "ch2" in channels
        assert "Nowhere" not in channels
        assert channels["motor"].name == "motor" and channels["motor"].names == ["CH2"]
        assert channels["motor"] == channels["CH2"] and channels["ch2"].name == "CH2"
        with pytest.raises(tarvek.UnknownChannelError, match="either in any case"):
            channels["Nowhere"]
        for selector, action, expected in VIRTUAL_NAME_CASES:
            emulator.clear()
            action(channels[selector])
            assert emulator.lines() == expected, selector
        emulator.clear()
        session.measure("MOTOR", tarvek.MeasurementType.CURRENT)
        session.configure_voltage_level("logic,ch3", 1.5)
        lines = emulator.lines()
        assert lines[:2] == ["INST:SEL 1", "MEAS:SCAL:CURR:DC?"]
        assert {"INST:SEL 0", "INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL 1.5"} == set(lines[2:])


def test_two_threads_share_one_session(emulator: Emulator, live: tarvek.Session) -> None:
    """Each thread's writes and reads stay consistent, and each failure keeps
    its own text, while the other thread's accesses (on another channel, or
    on the instrument as a whole when there is one channel) come in between."""
    channels = live.channels.names
    failures: list = []

    def level(channel: str):  # the output's voltage level
        output = live.channels[channel]
        return (lambda: output.voltage_level,
                lambda value: setattr(output, "voltage_level", value))

    slew = (lambda: live.voltage_slew_rate,
            lambda value: setattr(live, "voltage_slew_rate", value))
    work_a = level(channels[0])
    work_b = level(channels[-1]) if len(channels) > 1 else slew

    def work(access, base: float) -> None:
        read, write = access
        try:
            for step in range(40):
                write(base + step * 0.01)
                if abs(read() - (base + step * 0.01)) > 1e-9:
                    failures.append((base, step))
                if step % 10 == 0:
                    with pytest.raises(tarvek.Error) as error:
                        live.channels[channels[0]].ovp_enabled = False
                    if "OVP_ENABLED" not in error.value.description:
                        failures.append((base, "wrong error text", error.value.description))
        except Exception as error:  # noqa: BLE001 - reported below
            failures.append(error)

    threads = [threading.Thread(target=work, args=(work_a, 1.0)),
               threading.Thread(target=work, args=(work_b, 2.0))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not failures
    assert not any(thread.is_alive() for thread in threads)
    live.invalidate_all_attributes()
    assert work_b[0]() == pytest.approx(2.39)
    assert work_a[0]() == pytest.approx(1.39)


def test_help_reads_well() -> None:
    import pydoc
    text = pydoc.render_doc(tarvek.Session, renderer=pydoc.plaintext)
    assert "A session with a TARVEK power supply: the driver's root class." in text
    assert "Status checking is on" in text
    assert "configure_power_on_state(self, state: 'PowerOnState', memory_location: 'int')" in text
    assert "SCPI: reads with \"OUTP:PAIR?\"" in text
    channel = pydoc.render_doc(tarvek.OutputChannel, renderer=pydoc.plaintext)
    assert "Unit: V." in channel and "Range: min 0, max 60." in channel
    assert tarvek.Session.__module__ == "tarvek" and tarvek.Error.__module__ == "tarvek"
    assert (Path(tarvek.__file__).parent / "py.typed").is_file()
    assert os.path.isfile(tarvek.library_path())
    assert sorted(MODELS) == ["Series6310", "Series6510"]


# Texts that would end the driver's command or add one of their own, and what
# the refusal says. The first ones the package refuses before the call (a NUL
# could not even reach the driver), the last ones the driver refuses in C; both
# raise tarvek.InvalidValueError with the driver's code and wording.
SMUGGLED_TEXTS = [
    ("2024,1,1;:OUTP:STAT 1", "Value contains ';' (0x3B), which would end the command; "),
    ("1;*RST", "Value contains ';' (0x3B), which would end the command; "),
    ("1\n:OUTP:STAT 1", "Value contains a line feed (0x0A), which would end the command; "),
    ("1\r\n:OUTP:STAT 1",
     "Value contains a carriage return (0x0D), which would end the command; "),
    ("12\x00,0,0", "Value contains a NUL (0x00), which would cut the text short; "),
    ("1\x1b", "Value contains a control character (0x1B), which a command cannot carry; "),
    ("1\u00e9", "Value contains a byte outside ASCII (0xC3), which a command cannot carry; "),
    ("1 OUTP:STAT 1", "Value contains 'O' (0x4F), which TARVEK_ATTR_"),
]
TEXT_ATTRIBUTES = ["system_date", "system_time", "timer_run", "battery_test_fail_safe_time"]


@pytest.mark.parametrize("attribute", TEXT_ATTRIBUTES)
def test_texts_cannot_smuggle_commands(emulator: Emulator, live: tarvek.Session,
                                       attribute: str) -> None:
    outputs = [channel.output_enabled for channel in live.channels]
    emulator.clear()
    for text, reason in SMUGGLED_TEXTS:
        with pytest.raises(tarvek.InvalidValueError) as error:
            setattr(live, attribute, text)
        assert isinstance(error.value, ValueError) and isinstance(error.value, tarvek.Error)
        assert error.value.code == status(0xBFFA0010), text
        assert reason in error.value.description, (text, error.value.description)
        assert emulator.lines() == [], text
    live.invalidate_all_attributes()
    assert [channel.output_enabled for channel in live.channels] == outputs


def test_texts_outside_attributes_are_refused_alike(emulator: Emulator,
                                                    live: tarvek.Session) -> None:
    """Channel selectors, resource names and option strings never reach an
    instrument command, but are held to the same characters."""
    with pytest.raises(ValueError, match=re.escape("a line feed (0x0A)")):
        live.channels["CH1\n*RST"]
    with pytest.raises(ValueError, match=re.escape("';' (0x3B)")):
        live.configure_voltage_level("CH1;*RST", 1.0)
    with pytest.raises(TypeError, match="system_time takes a str, not 12"):
        live.system_time = 12  # type: ignore[assignment]
    with pytest.raises(ValueError):
        live.read(0)
    assert emulator.lines() == []
    with pytest.raises(ValueError):
        tarvek.Session("TCPIP::127.0.0.1::1::SOCKET\n")


def test_session_arguments_are_checked(simulated: tarvek.Session) -> None:
    refused = [
        (lambda: tarvek.Session("", options=42), TypeError,  # type: ignore[arg-type]
         "options takes None, an option string or a mapping"),
        (lambda: tarvek.Session("", options={"simulate": "often"}), ValueError, "boolean"),
        (lambda: tarvek.Session("", options={"simulate": 2}), ValueError, "not 2"),
        (lambda: tarvek.Session("", reset="no", options="Simulate=1"),  # type: ignore[arg-type]
         TypeError, "reset takes a bool"),
        (lambda: tarvek.Session("", id_query=None, options="Simulate=1"),  # type: ignore
         TypeError, "id_query takes a bool"),
        (lambda: simulated.error_message(2**40), ValueError, "code takes an int from"),
        (lambda: simulated.error_message(1.5), TypeError, "code takes an int"),  # type: ignore
        (lambda: simulated.read(2**32), ValueError, "size takes an int from 1 to 4294967295"),
        (lambda: simulated.write(5), TypeError, "text takes a str or bytes"),  # type: ignore
    ]
    for call, exception, message in refused:
        with pytest.raises(exception, match=re.escape(message)):
            call()
    assert tarvek.option_string({"simulate": 1, "cache": False}) == "Simulate=1,Cache=0"
