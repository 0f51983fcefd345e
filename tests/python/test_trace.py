"""The I/O trace of a session (``session.io_trace``): off until switched on,
the exact bytes the emulator received and sent, a context manager that
restores the previous state, clearing, simulation, bad input, several
threads, and the process-wide file named by TKVISA_TRACE_FILE."""
from __future__ import annotations

import ctypes
import os
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import List

import pytest

import tarvek
from conftest import Emulator
from tarvek._library import LIB, ViBoolean
from tarvek._trace import parse_line

_NULL_POINTER = -1074134952  # 0xBFFA0058
_INVALID_VALUE = -1074135024  # 0xBFFA0010


def replies(emulator: Emulator) -> List[str]:
    """The replies the emulator sent since its last clear(), without the
    final line feed, once every message sent before has arrived."""
    emulator.lines()  # waits for the marker, so every reply is traced
    with emulator._condition:
        return [text for number, direction, text in emulator._trace[emulator._start:]
                if direction == "->" and number not in emulator._markers]


def test_is_off_until_switched_on(live: tarvek.Tarvek) -> None:
    live.measure_voltage()
    assert live.io_trace.enabled is False
    assert live.io_trace.entries() == []
    assert live.io_trace is live.io_trace


def test_shows_exactly_the_bytes_the_emulator_received_and_sent(
        emulator: Emulator, live: tarvek.Tarvek) -> None:
    with live.io_trace as trace:
        live.channels["CH1"].voltage_level = 2.5
        live.measure_voltage()
        live.write("*IDN?\n")
        identity = live.read()
    entries = trace.entries()
    written = b"".join(entry.data for entry in entries if entry.direction == "write")
    read = b"".join(entry.data for entry in entries if entry.direction == "read")
    received = emulator.lines(status_checks=True)
    assert written.decode().split("\n") == received + [""]
    assert read.decode() == "".join(reply + "\n" for reply in replies(emulator))
    assert identity.startswith("Norvale,")
    assert [(entry.direction, entry.call) for entry in entries[-2:]] == [
        ("write", "viWrite"), ("read", "viRead")]
    assert entries[-1].data == identity.encode()


def test_entries_say_when_which_call_and_its_status(live: tarvek.Tarvek) -> None:
    before = time.time()
    with live.io_trace as trace:
        live.write("*CLS\n")
    entries = trace.entries()
    assert entries == [tarvek.IoTraceEntry(entries[0].time, "write", b"*CLS\n", "viWrite", 0)]
    assert before - 1 <= entries[0].time <= time.time() + 1
    with pytest.raises(AttributeError):
        entries[0].data = b""  # type: ignore[misc]


def test_context_manager_restores_the_previous_state(live: tarvek.Tarvek) -> None:
    trace = live.io_trace
    with trace as inner:
        assert inner is trace and trace.enabled
        with trace:
            assert trace.enabled
        assert trace.enabled
    assert not trace.enabled
    live.measure_voltage()  # not recorded
    recorded = len(trace.entries())
    trace.enabled = True
    with trace:
        pass
    assert trace.enabled
    live.measure_voltage()
    assert len(trace.entries()) > recorded
    trace.clear()
    assert trace.entries() == [] and trace.enabled
    trace.enabled = False


def test_restores_the_state_when_the_block_raises(live: tarvek.Tarvek) -> None:
    with pytest.raises(tarvek.Error):
        with live.io_trace:
            live.write("*IDN?\n")
            live.read()
            live.channels["CH1"].voltage_level = 1e9
    assert not live.io_trace.enabled
    assert any(entry.data.startswith(b"*IDN?") for entry in live.io_trace.entries())


def test_simulated_session_keeps_the_switch_and_records_nothing(
        simulated: tarvek.Tarvek) -> None:
    with simulated.io_trace as trace:
        assert trace.enabled
        simulated.channels["CH1"].voltage_level = 1.0
        assert trace.entries() == []
    assert not trace.enabled
    trace.clear()


def test_bad_input_is_refused_and_changes_nothing(live: tarvek.Tarvek) -> None:
    for value in ("yes", 2, None, 0.5):
        with pytest.raises((TypeError, ValueError)):
            live.io_trace.enabled = value  # type: ignore[assignment]
    assert not live.io_trace.enabled
    with pytest.raises(AttributeError, match="enabled"):
        live.io_trace.enable = True  # type: ignore[attr-defined]
    for line in ("", "garbage", '1.5 0x00001000 sideways viRead 0x00000000 ""',
                 '1.5 0x00001000 read viRead 0x00000000 "\\q"'):
        with pytest.raises(ValueError):
            parse_line(line)


def test_driver_functions_refuse_bad_buffers_with_a_status(live: tarvek.Tarvek) -> None:
    vi = live.handle
    assert LIB.TARVEK_ConfigureIoTrace(vi, 1) == 0
    live.write("*CLS\n")
    needed = LIB.TARVEK_GetIoTrace(vi, 0, None)
    assert needed > 10
    assert LIB.TARVEK_GetIoTrace(vi, 10, None) == _NULL_POINTER
    assert LIB.TARVEK_QueryIoTraceEnabled(vi, None) == _NULL_POINTER
    assert LIB.TARVEK_ConfigureIoTrace(vi, 2) == _INVALID_VALUE
    # A buffer too small gets what fits, terminated, and the size it needs.
    small = ctypes.create_string_buffer(b"x" * 16, 16)
    assert LIB.TARVEK_GetIoTrace(vi, 16, small) == needed
    assert small.value == live.io_trace._text().encode()[:15]
    whole = ctypes.create_string_buffer(needed)
    assert LIB.TARVEK_GetIoTrace(vi, needed, whole) == 0
    assert whole.value.endswith(b' "*CLS\\n"\n')
    enabled = ViBoolean(0)
    assert LIB.TARVEK_QueryIoTraceEnabled(vi, ctypes.byref(enabled)) == 0 and enabled.value == 1
    live.io_trace.enabled = False


def test_closed_session_raises() -> None:
    options = {"simulate": True, "driver_setup": "Model:6512"}
    session = tarvek.Tarvek("", options=options)
    trace = session.io_trace
    session.close()
    with pytest.raises(tarvek.Error):
        trace.entries()
    with pytest.raises(tarvek.Error):
        trace.enabled = True


def test_reads_as_other_threads_query(live: tarvek.Tarvek) -> None:
    errors: List[BaseException] = []

    def query() -> None:
        try:
            for _ in range(20):
                live.measure_voltage()
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    with live.io_trace as trace:
        threads = [threading.Thread(target=query) for _ in range(3)]
        for thread in threads:
            thread.start()
        while any(thread.is_alive() for thread in threads):
            for entry in trace.entries():
                assert entry.direction in ("write", "read")
        for thread in threads:
            thread.join()
    assert not errors
    assert sum(entry.data == b"MEAS:SCAL:VOLT:DC?\n" for entry in trace.entries()) == 60


def test_process_file_gets_every_session(emulator: Emulator, tmp_path: Path) -> None:
    path = tmp_path / "trace.log"
    script = (
        "import sys, tarvek\n"
        "with tarvek.Tarvek(sys.argv[1], options={'query_instr_status': False}) as psu:\n"
        "    psu.write('*CLS\\n')\n"
        "    assert not psu.io_trace.enabled\n")
    environment = dict(os.environ, TKVISA_TRACE_FILE=str(path))
    subprocess.run([sys.executable, "-c", script, emulator.resource], env=environment,
                   check=True, timeout=60)
    entries = [parse_line(line) for line in path.read_text().splitlines()]
    assert entries[0].direction == "event" and entries[0].call == "viOpen"
    assert entries[0].data.startswith(b"open TCPIP")
    assert entries[-1].call == "viClose"
    written = b"".join(entry.data for entry in entries if entry.direction == "write")
    assert written.endswith(b"*CLS\n")
    assert b"*IDN?\n" in written  # the driver's identity query at init
