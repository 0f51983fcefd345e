"""Every instrument function as a method: each called live on both families
with the exact messages the emulator received and the typed result, and
each called in simulation."""
from __future__ import annotations

from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple, Union

import pytest

import tarvek
from conftest import Emulator
from test_attributes import status

T = tarvek
Lines = Union[List[str], Dict[str, List[str]]]


class Case(NamedTuple):
    method: str
    args: Tuple[Any, ...]
    lines: Lines                      # the same on both families, or by family
    result: Any = None                # expected value, or a check, or None
    channel: bool = False             # called on channels["CH1"]
    setup: Optional[Callable[[tarvek.Session], Any]] = None  # first, its lines not checked
    refused: Optional[Dict[str, int]] = None  # family -> status


def by_family(series6310: List[str], series6510: List[str]) -> Dict[str, List[str]]:
    return {"Series6310": series6310, "Series6510": series6510}


def one_step_list(session: tarvek.Session) -> None:
    """List 1 with one step, in list mode, started at once."""
    session.selected_list = 1
    session.selected_step = 1
    session.step_voltage = 1.0
    session.step_current = 1.0
    session.list_dwell = 0.05
    session.list_trigger_source = tarvek.SpecificTriggerSource.IMMEDIATE
    session.save_list_data()
    session.enable_list(1)


NOT_SUPPORTED = {"Series6310": 0xBFFA0011, "Series6510": 0xBFFA0011}
SELECT = by_family(["INST:SEL 0"], [])

CASES = [
    Case("reset", (), ["*RST", "*OPC?"]),
    Case("reset_with_defaults", (), ["*RST", "*OPC?"]),
    Case("disable", (), ["*RST", "*OPC?"]),
    Case("self_test", (), [], T.SelfTestResult(0, "Self test passed.")),
    Case("revision_query", (), [], lambda r: isinstance(r, T.RevisionQueryResult) and
         r.instr_rev == "1.02" and r.driver_rev),
    Case("invalidate_all_attributes", (), []),
    Case("lock_session", (), [], True, setup=None),
    Case("unlock_session", (), [], False, setup=lambda session: session.lock_session()),
    Case("set_operation_complete", (), ["*OPC"]),
    Case("wait_for_operation_complete", (), ["*OPC?"]),
    Case("wait_to_continue", (), ["*WAI"]),
    Case("error_query", (), [":SYST:ERR?"], T.ErrorQueryResult(0, "No error")),
    Case("get_next_coercion_record", (), [], ""),
    Case("get_next_interchange_warning", (), [], refused=NOT_SUPPORTED),
    Case("clear_interchange_warnings", (), [], refused=NOT_SUPPORTED),
    Case("reset_interchange_check", (), [], refused=NOT_SUPPORTED),
    Case("get_channel_name", (1,), [], "CH1"),
    Case("configure_voltage_level", (5.0,),
         by_family(["INST:SEL 0", "INST:SEL 0", "SOUR:VOLT:LEV:IMM:AMPL 5"],
                   ["SOUR:VOLT:LEV:IMM:AMPL 5"]), channel=True),
    Case("configure_current_limit", (T.CurrentLimitBehavior.REGULATE, 1.5),
         by_family(["INST:SEL 0", "INST:SEL 0", "SOUR:CURR:LEV:IMM:AMPL 1.5"],
                   ["SOUR:CURR:LEV:IMM:AMPL 1.5"]), channel=True),
    Case("configure_ovp", (True, 20.0),
         by_family(["INST:SEL 0", "INST:SEL 0", "SOUR:VOLT:PROT:LEV:AMPL 20"],
                   ["SOUR:VOLT:PROT:LEV:AMPL 20"]), channel=True),
    Case("configure_output_enabled", (True,),
         by_family(["INST:SEL 0", "INST:SEL 0", "OUTP:STAT 1"], ["OUTP:STAT 1"]), channel=True),
    Case("configure_output_range", (0, 10.0),
         by_family(["INST:SEL 0", "INST:SEL 0", "SOUR:VOLT:LEV:IMM:AMPL?"],
                   ["SOUR:VOLT:LEV:IMM:AMPL?"]), channel=True),
    Case("query_max_current_limit", (5.0,), [], 20.0, channel=True),
    Case("query_max_voltage_level", (1.0,), [], 100.0, channel=True),
    Case("query_output_state", (T.OutputState.CONSTANT_VOLTAGE,),
         by_family(["INST:SEL 0", "STAT:QUES:ISUM1:COND?"], ["STAT:QUES:ISUM:COND?"]), True,
         channel=True),
    Case("measure", (T.MeasurementType.VOLTAGE,),
         by_family(["INST:SEL 0", "MEAS:SCAL:VOLT:DC?"], ["MEAS:SCAL:VOLT:DC?"]), 0.0,
         channel=True),
    Case("measure_current", (), ["MEAS:SCAL:CURR:DC?"], 0.0),
    Case("measure_voltage", (), ["MEAS:SCAL:VOLT:DC?"], 0.0),
    Case("query_channel", (), ["APPL?"], lambda r: isinstance(r, T.QueryChannelResult) and
         r.voltage == 0.0 and isinstance(r.current, float)),
    Case("reset_output_protection", (), by_family(["INST:SEL 0", "OUTP:PROT:CLE"],
                                                   ["OUTP:PROT:CLE"]), channel=True),
    Case("clear_protection_errors", (), ["OUTP:PROT:CLE"]),
    Case("clear_ocp", (), ["SOUR:CURR:PROT:CLE"]),
    Case("clear_ovp", (), ["SOUR:VOLT:PROT:CLE"]),
    Case("configure_trigger_source", (T.TriggerSource.TRIG_EXTERNAL,),
         by_family(["INST:SEL 0", "TRIG:SEQ:SOUR EXT"], ["TRIG:SEQ:SOUR EXT"]), channel=True),
    Case("configure_triggered_voltage_level", (3.0,), [], channel=True, refused=NOT_SUPPORTED),
    Case("configure_triggered_current_limit", (1.0,), [], channel=True, refused=NOT_SUPPORTED),
    Case("initiate", (), [], refused=NOT_SUPPORTED),
    Case("send_software_trigger", (), ["*TRG"]),
    Case("generate_immediate", (), ["*TRG"]),
    Case("configure_continuous_trigger", (T.SelectedChannel.CHANNEL1, True),
         by_family(["INIT:CONT 0,1"], ["INIT:CONT 1"])),
    Case("abort", (), by_family(["ABOR 0", "ABOR 1", "ABOR 2"], ["ABOR", "ABOR", "ABOR"])),
    Case("enable_list", (1,), ["OUTP:MODE LIST,1"]),
    Case("disable_list", (), ["OUTP:MODE FIX"]),
    Case("save_list_data", (), ["SOUR:LIST:SAVE"]),
    Case("start_list", (T.SelectedChannel.CHANNEL1,), ["INIT:IMM 0"], setup=lambda session: one_step_list(session)),
    Case("abort_list", (T.SelectedChannel.CHANNEL1,), by_family(["ABOR 0"], ["ABOR"])),
    Case("start_battery_test", (), ["BATT:MOD:STAT 1"], refused={"Series6310": 0xBFFA0011}),
    Case("stop_battery_test", (), ["BATT:MOD:STAT 0"], refused={"Series6310": 0xBFFA0011}),
    Case("initiate_data_logger", (), ["INIT:IMM:DLOG"]),
    Case("start_data_logger", (), ["TRIG:DLOG:IMM"]),
    Case("stop_data_logger", (), ["ABOR:DLOG"]),
    Case("configure_digital_function", (2, T.DigitalPinFunction.DIGITAL_OUTPUT),
         ["SOUR:DIG:PIN2:FUNC DOUT"]),
    Case("configure_digital_polarity", (2, T.DigitalPinPolarity.NEGATIVE),
         ["SOUR:DIG:PIN2:POL NEG"]),
    Case("configure_power_on_state", (T.PowerOnState.USER_STATE, 3), ["OUTP:PON:STAT USER,3"]),
    Case("query_power_on_state", (), ["OUTP:PON:STAT?"],
         lambda r: isinstance(r, T.QueryPowerOnStateResult) and isinstance(r.state, T.PowerOnState)
         and isinstance(r.memory_location, int)),
    Case("save_state", (4,), ["*SAV 4"]),
    Case("recall_state", (4,), ["*RCL 4"]),
    Case("clear_status", (), ["*CLS"]),
    Case("preset", (), ["STAT:PRES"]),
    Case("beep", (), ["SYST:BEEP:IMM"]),
    Case("remote_lock", (), ["SYST:RWL"]),
    Case("clear_and_reboot", (), ["SYST:SEC:IMM"]),
]


def snake(name: str) -> str:
    import re
    name = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", name)
    return re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", name).lower()


def test_every_function_has_a_live_case() -> None:
    assert sorted(case.method for case in CASES) == sorted(snake(name) for name in tarvek.FUNCTIONS)
    for name in tarvek.FUNCTIONS:
        method = getattr(tarvek.Session, snake(name))
        assert f"TARVEK_{name}" in (method.__doc__ or ""), name
        assert "return" in method.__annotations__, name


def check_result(case: Case, result: Any) -> None:
    if callable(case.result):
        assert case.result(result), result
    elif case.result is not None:
        assert result == case.result
        assert type(result) is type(case.result)


@pytest.mark.parametrize("case", CASES, ids=lambda case: case.method)
def test_function_live(emulator: Emulator, live: tarvek.Session, case: Case) -> None:
    family = emulator.family  # type: ignore[attr-defined]
    target: Any = live.channels["CH1"] if case.channel else live
    if case.setup:
        case.setup(live)
        emulator.clear()
    method: Callable[..., Any] = getattr(target, case.method)
    refused = (case.refused or {}).get(family)
    if refused is not None:
        with pytest.raises(tarvek.Error) as error:
            method(*case.args)
        assert error.value.code == status(refused)
        assert error.value.description
        assert emulator.lines() == []
        return
    if case.method in ("measure", "measure_current", "measure_voltage", "query_channel"):
        live.configure_voltage_level("CH1", 0.0)
        emulator.clear()
    result = method(*case.args)
    expected = case.lines[family] if isinstance(case.lines, dict) else case.lines
    assert emulator.lines() == expected
    check_result(case, result)
    if case.method == "lock_session":
        live.unlock_session()


@pytest.mark.parametrize("case", CASES, ids=lambda case: case.method)
def test_function_simulated(simulated: tarvek.Session, case: Case) -> None:
    """Simulation answers every function: a typed result or the driver's
    refusal, never anything else."""
    target: Any = simulated.channels["CH1"] if case.channel else simulated
    try:
        result = getattr(target, case.method)(*case.args)
    except tarvek.Error as error:
        assert error.code < 0 and error.description
        return
    annotation = getattr(type(target), case.method).__annotations__["return"]
    assert annotation == "None" or result is not None


def test_channel_functions_with_results_return_one_per_channel(emulator: Emulator,
                                                               live: tarvek.Session) -> None:
    if emulator.family == "Series6510":  # type: ignore[attr-defined]
        pytest.skip("one output")
    live.channels["CH1-CH3"].configure_voltage_level(2.5)
    # One call with the whole selector: the driver writes the level to each
    # channel (and selects the others again afterwards).
    assert emulator.lines() == ["INST:SEL 0", "INST:SEL 0", "SOUR:VOLT:LEV:IMM:AMPL 2.5",
                                "INST:SEL 1", "SOUR:VOLT:LEV:IMM:AMPL 2.5",
                                "INST:SEL 2", "SOUR:VOLT:LEV:IMM:AMPL 2.5",
                                "INST:SEL 1", "INST:SEL 2"]
    emulator.clear()
    live.channels["CH1,CH3"].output_enabled = True
    emulator.clear()
    volts = live.channels["CH1,CH3"].measure(tarvek.MeasurementType.VOLTAGE)
    assert volts == [2.5, 2.5]
    assert emulator.lines() == ["INST:SEL 0", "MEAS:SCAL:VOLT:DC?", "INST:SEL 2",
                                "MEAS:SCAL:VOLT:DC?"]
