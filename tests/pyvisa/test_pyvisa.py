"""The project's VISA library driven through PyVISA, with pyvisa-py ("@py")
as the reference where it offers the feature. Where the two differ, the VISA
standard decides and the test says which."""
from __future__ import annotations

import ctypes
import os
import struct
import subprocess
import sys
import threading
import time

import pytest
import pyvisa
from pyvisa import constants
from pyvisa.constants import StatusCode

from conftest import LIBRARY, Peer

EVENT_IO = constants.EventType.io_completion
EVENT_SRQ = constants.EventType.service_request
QUEUE = constants.EventMechanism.queue


def error_of(excinfo) -> int:
    return excinfo.value.error_code


def open_peer(rm, peer: Peer, **kwargs):
    kwargs.setdefault("read_termination", "\n")
    kwargs.setdefault("write_termination", "\n")
    kwargs.setdefault("timeout", 2000)
    return rm.open_resource(peer.resource, **kwargs)


# ----- Sessions, queries and terminations ----------------------------------

def test_query_the_emulator_on_socket_and_serial(rm, emulator):
    with rm.open_resource(emulator.resource, read_termination="\n",
                          write_termination="\n") as inst:
        assert inst.query("*IDN?") == "Norvale,6313,SN000001,1.02"
        inst.write("VOLT 1.5")
        assert float(inst.query("VOLT?")) == pytest.approx(1.5)
    if rm.backend_name == "@py":
        serial = "ASRL" + emulator.serial[len("ASRL"):]
        # pyvisa-py reaches a serial port by its device name the same way.
    else:
        serial = emulator.serial
    with rm.open_resource(serial, read_termination="\n", write_termination="\n",
                          baud_rate=9600) as inst:
        assert inst.query("*IDN?") == "Norvale,6313,SN000001,1.02"


def test_write_read_and_raw_bytes_are_exact(rm, peer):
    peer.script[b"DATA?"] = b"abc\ndef\n"
    with open_peer(rm, peer) as inst:
        inst.write("CONF 1")
        assert peer.wait_for(b"CONF 1\n") == b"CONF 1\n"
        inst.write("DATA?")
        assert inst.read() == "abc"
        assert inst.read_raw() == b"def\n"
        inst.write("DATA?")
        assert inst.read_bytes(5) == b"abc\nd"
        assert inst.read_bytes(3) == b"ef\n"
        inst.write_raw(b"RAW\x00\xff\n")
        assert peer.wait_for(b"RAW\x00\xff\n").endswith(b"DATA?\nRAW\x00\xff\n")


def test_ascii_values_both_ways(rm, peer):
    peer.script[b"LIST?"] = b"1.5,-2.25,3e3\n"
    with open_peer(rm, peer) as inst:
        assert inst.query_ascii_values("LIST?") == [1.5, -2.25, 3000.0]
        inst.write_ascii_values("LIST ", [1, 2, 3], converter="d")
        assert peer.wait_for(b"LIST 1,2,3\n").endswith(b"LIST?\nLIST 1,2,3\n")


# Bytes equal to the termination character inside a block must survive.
PAYLOAD = bytes([0, 10, 13, 255, 10, 65, 66, 10, 0, 1])


@pytest.mark.parametrize("header, header_fmt, data_points", [
    (b"#210", "ieee", 10),  # the block's length, and the count given too
    (b"#210", "ieee", 0),   # the block's length only
    (b"", "empty", 7),      # no header: the count alone gives the length
])
def test_query_binary_values_keeps_every_byte(rm, peer, header, header_fmt, data_points):
    if header_fmt == "empty":
        # Without a length the data end at the message end; on a socket that
        # is the termination character, so the payload must avoid it.
        payload = bytes(b for b in PAYLOAD if b != 10)
    else:
        payload = PAYLOAD
    peer.script[b"CURV?"] = header + payload + b"\n"
    with open_peer(rm, peer, chunk_size=4) as inst:
        values = inst.query_binary_values("CURV?", datatype="B", container=bytes,
                                          header_fmt=header_fmt, data_points=data_points)
        assert values == payload
        # The session is in step afterwards.
        assert inst.query("*IDN?") == "Peer,1,2,3"


def test_write_binary_values_sends_a_definite_block(rm, peer):
    with open_peer(rm, peer) as inst:
        inst.write_binary_values("CURV ", [1, -2, 10], datatype="h", is_big_endian=True)
        expected = b"CURV #16" + struct.pack(">hhh", 1, -2, 10) + b"\n"
        assert peer.wait_for(expected) == expected


def test_binary_read_with_termination_disabled(tk, peer):
    peer.script[b"BIN?"] = b"#15\n\n\n\n\n\n"
    with open_peer(tk, peer) as inst:
        inst.write("BIN?")
        inst.set_visa_attribute(constants.VI_ATTR_TERMCHAR_EN, constants.VI_FALSE)
        assert inst.read_bytes(9) == b"#15\n\n\n\n\n\n"


def test_timeout_raises_and_the_session_goes_on(rm, peer):
    with open_peer(rm, peer, timeout=150) as inst:
        started = time.monotonic()
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.query("HANG?")
        assert error_of(excinfo) == StatusCode.error_timeout
        assert time.monotonic() - started < 2.0
        assert inst.query("*IDN?") == "Peer,1,2,3"


def test_clear_discards_pending_input(rm, peer):
    peer.script[b"TWO?"] = b"first\nsecond\n"
    with open_peer(rm, peer) as inst:
        inst.write("TWO?")
        assert inst.read() == "first"
        time.sleep(0.1)
        inst.clear()
        assert inst.query("*IDN?") == "Peer,1,2,3"


# ----- Status byte and trigger ---------------------------------------------

def test_read_stb_and_trigger_in_488_strings_mode(tk, peer):
    peer.script[b"*STB?"] = b"80\n"
    with open_peer(tk, peer) as inst:
        # In normal mode a socket has no status byte or trigger (VISA
        # answers VI_ERROR_NSUP_OPER).
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.read_stb()
        assert error_of(excinfo) == StatusCode.error_nonsupported_operation
        inst.io_protocol = constants.IOProtocol.protocol4882_strs
        assert inst.read_stb() == 80
        inst.assert_trigger()
        assert peer.wait_for(b"*TRG\n") == b"*STB?\n*TRG\n"
        # The answer to *STB? never leaks into the next read.
        assert inst.query("*IDN?") == "Peer,1,2,3"


def test_read_stb_against_the_emulator(rm, emulator):
    with rm.open_resource(emulator.resource, read_termination="\n",
                          write_termination="\n") as inst:
        if rm.backend_name == "@py":
            # pyvisa-py sends *STB? on a socket whatever VI_ATTR_IO_PROT says.
            pytest.skip("pyvisa-py ignores VI_ATTR_IO_PROT on sockets")
        inst.io_protocol = constants.IOProtocol.protocol4882_strs
        assert 0 <= inst.read_stb() <= 255
        inst.assert_trigger()
        assert inst.query("*IDN?").startswith("Norvale,")


def test_bad_status_answer_is_an_io_error(tk, peer):
    peer.script[b"*STB?"] = b"not a number\n"
    with open_peer(tk, peer) as inst:
        inst.io_protocol = constants.IOProtocol.protocol4882_strs
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.read_stb()
        assert error_of(excinfo) == StatusCode.error_io
        assert inst.query("*IDN?") == "Peer,1,2,3"


# ----- Locks ---------------------------------------------------------------

def test_exclusive_lock_keeps_other_sessions_out(tk, peer):
    first, second = open_peer(tk, peer), open_peer(tk, peer)
    try:
        first.lock_excl(timeout=100)
        assert second.lock_state == constants.AccessModes.exclusive_lock
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            second.write("*IDN?")
        assert error_of(excinfo) == StatusCode.error_resource_locked
        started = time.monotonic()
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            second.lock_excl(timeout=200)
        assert error_of(excinfo) == StatusCode.error_timeout
        assert 0.15 < time.monotonic() - started < 2.0
        assert first.query("*IDN?") == "Peer,1,2,3"
        # Nested locks need as many unlocks.
        first.lock_excl()
        first.unlock()
        with pytest.raises(pyvisa.VisaIOError):
            second.write("*IDN?")
        first.unlock()
        assert second.lock_state == constants.AccessModes.no_lock
        assert second.query("*IDN?") == "Peer,1,2,3"
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            first.unlock()
        assert error_of(excinfo) == StatusCode.error_session_not_locked
    finally:
        first.close()
        second.close()


def test_lock_waits_for_the_other_session(tk, peer):
    first, second = open_peer(tk, peer), open_peer(tk, peer)
    try:
        first.lock_excl()
        threading.Timer(0.2, first.unlock).start()
        second.lock_excl(timeout=3000)
        assert second.query("*IDN?") == "Peer,1,2,3"
        # Closing a session releases its locks.
        second.close()
        first.lock_excl(timeout=0)
    finally:
        first.close()
        second.close()


def test_shared_lock_and_access_keys(tk, peer):
    first, second, third = (open_peer(tk, peer) for _ in range(3))
    try:
        # PyVISA returns the access key as the bytes the library wrote.
        assert first.lock(timeout=100, requested_key="bench") == b"bench"
        assert second.lock(timeout=100, requested_key="bench") == b"bench"
        assert third.lock_state == constants.AccessModes.shared_lock
        assert second.query("*IDN?") == "Peer,1,2,3"
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            third.query("*IDN?")
        assert error_of(excinfo) == StatusCode.error_resource_locked
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            third.lock(timeout=100, requested_key="other")
        assert error_of(excinfo) == StatusCode.error_timeout
        with pytest.raises(pyvisa.VisaIOError):
            third.lock_excl(timeout=50)
        first.unlock()
        second.unlock()
        generated = third.lock(timeout=100)
        assert generated
        with third.lock_context(timeout=100, requested_key=generated.decode()):
            pass
        third.unlock()
        with first.lock_context(timeout=100, requested_key="exclusive"):
            with pytest.raises(pyvisa.VisaIOError):
                second.query("*IDN?")
        assert second.query("*IDN?") == "Peer,1,2,3"
    finally:
        for inst in (first, second, third):
            inst.close()


def test_lock_not_offered_by_pyvisa_py(peer):
    # pyvisa-py has no locks; with the project's library the tests above run.
    manager = pyvisa.ResourceManager("@py")
    try:
        inst = open_peer(manager, peer)
        with pytest.raises((pyvisa.VisaIOError, NotImplementedError)):
            inst.lock_excl(timeout=10)
        inst.close()
    finally:
        manager.close()


# ----- Events --------------------------------------------------------------

def test_wait_on_event_times_out_and_asynchronous_io_completes(tk, peer):
    peer.script[b"ASYNC?"] = b"done\n"
    with open_peer(tk, peer) as inst:
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.wait_on_event(EVENT_IO, 10)
        assert error_of(excinfo) == StatusCode.error_not_enabled
        inst.enable_event(EVENT_IO, QUEUE)
        started = time.monotonic()
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.wait_on_event(EVENT_IO, 150)
        assert error_of(excinfo) == StatusCode.error_timeout
        assert 0.1 < time.monotonic() - started < 2.0
        lib, session = inst.visalib, inst.session
        job, status = lib.write_asynchronously(session, b"ASYNC?\n")
        assert status == StatusCode.success_synchronous
        response = inst.wait_on_event(EVENT_IO, 1000)
        assert response.event.event_type == EVENT_IO
        job = getattr(job, "value", job)  # PyVISA hands back the ctypes value
        assert lib.get_attribute(response.context, constants.VI_ATTR_JOB_ID)[0] == job
        assert lib.get_attribute(response.context, constants.VI_ATTR_RET_COUNT)[0] == 7
        assert lib.get_attribute(response.context, constants.VI_ATTR_STATUS)[0] == 0
        lib.close(response.context)
        buffer = lib.read_asynchronously(session, 16)[0]
        response = inst.wait_on_event(EVENT_IO, 1000)
        count = lib.get_attribute(response.context, constants.VI_ATTR_RET_COUNT)[0]
        assert bytes(buffer[:count]) == b"done\n"
        lib.close(response.context)
        inst.disable_event(EVENT_IO, QUEUE)
        inst.discard_events(EVENT_IO, QUEUE)


def test_event_handlers_are_called(tk, peer):
    calls = []
    with open_peer(tk, peer) as inst:
        def handler(session, event_type, context, user_handle):
            calls.append((session, event_type))
            return StatusCode.success

        user_handle = inst.install_handler(EVENT_IO, handler)
        inst.enable_event(EVENT_IO, constants.EventMechanism.handler)
        inst.visalib.write_asynchronously(inst.session, b"X\n")
        assert calls == [(inst.session, EVENT_IO)]
        inst.disable_event(EVENT_IO, constants.EventMechanism.handler)
        inst.visalib.write_asynchronously(inst.session, b"Y\n")
        assert len(calls) == 1
        inst.uninstall_handler(EVENT_IO, handler, user_handle)


def test_service_requests_are_not_offered_on_sockets(tk, peer):
    with open_peer(tk, peer) as inst:
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            inst.enable_event(EVENT_SRQ, QUEUE)
        assert error_of(excinfo) == StatusCode.error_invalid_event


# ----- Resource manager ----------------------------------------------------

STORE = """<?xml version="1.0"?>
<IviConfigurationStore>
  <SoftwareModule name="TARVEK"/>
  <HardwareAsset name="A" resourceDescriptor="TCPIP::10.0.0.5::5025::SOCKET"/>
  <HardwareAsset name="B" resourceDescriptor="tcpip0::bench-psu::inst0::INSTR"/>
  <HardwareAsset name="C" resourceDescriptor="GPIB0::5::INSTR"/>
  <HardwareAsset name="D" resourceDescriptor="TCPIP0::10.0.0.5::5025::SOCKET"/>
  <HardwareAsset name="E"/>
</IviConfigurationStore>
"""


@pytest.fixture
def store(tmp_path, monkeypatch):
    path = tmp_path / "store.xml"
    path.write_text(STORE)
    monkeypatch.setenv("IVI_CONFIG_STORE", str(path))
    return path


@pytest.mark.parametrize("query, expected", [
    ("?*", ["TCPIP0::10.0.0.5::5025::SOCKET", "TCPIP0::bench-psu::inst0::INSTR",
            "GPIB0::5::INSTR"]),
    ("?*::INSTR", ["TCPIP0::bench-psu::inst0::INSTR", "GPIB0::5::INSTR"]),
    ("tcpip?*", ["TCPIP0::10.0.0.5::5025::SOCKET", "TCPIP0::bench-psu::inst0::INSTR"]),
    ("TCPIP?*SOCKET", ["TCPIP0::10.0.0.5::5025::SOCKET"]),
    ("[GT]?*INSTR", ["TCPIP0::bench-psu::inst0::INSTR", "GPIB0::5::INSTR"]),
    ("[^T]?*", ["GPIB0::5::INSTR"]),
    ("GPIB?*|?*SOCKET", ["TCPIP0::10.0.0.5::5025::SOCKET", "GPIB0::5::INSTR"]),
    ("TCPIP0::10.0.0.5::50+25::SOCKET", ["TCPIP0::10.0.0.5::5025::SOCKET"]),
    ("USB?*", []),
])
def test_list_resources_with_search_expressions(tk, store, query, expected):
    found = [name for name in tk.list_resources(query) if not name.startswith("ASRL")]
    assert found == expected


def test_list_resources_names_serial_ports_present(tk, store):
    ports = [name for name in tk.list_resources("ASRL?*INSTR")]
    for name in ports:
        assert name.startswith("ASRL") and name.endswith("::INSTR")
        path = name[4:-len("::INSTR")]
        assert os.path.exists(path if path.startswith("/") else f"/dev/ttyS{int(path) - 1}")


def test_bad_search_expressions(tk, store, clib, monkeypatch):
    for expression in ("[TCPIP?*", "(?*", "?*{VI_ATTR_INTF_NUM==0}"):
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            tk.list_resources(expression)
        assert error_of(excinfo) in (StatusCode.error_invalid_expression,
                                     StatusCode.error_nonsupported_operation)
    # A missing store offers no assets and is no error.
    monkeypatch.setenv("IVI_CONFIG_STORE", "/nonexistent/store.xml")
    assert tk.list_resources("TCPIP?*") == ()
    name = ctypes.create_string_buffer(256)
    assert clib.viFindNext(0xDEAD, name) == StatusCode.error_invalid_object
    assert clib.viFindRsrc(0xDEAD, b"?*", None, None, name) == StatusCode.error_invalid_object


def test_resource_manager_attributes(tk):
    lib, session = tk.visalib, tk.session
    assert lib.get_attribute(session, constants.VI_ATTR_RSRC_MANF_NAME)[0] == "TARVEK VISA"
    assert lib.get_attribute(session, constants.VI_ATTR_RSRC_SPEC_VERSION)[0] == 0x00500800
    assert lib.get_attribute(session, constants.VI_ATTR_RSRC_IMPL_VERSION)[0] > 0
    assert lib.get_attribute(session, constants.VI_ATTR_RSRC_LOCK_STATE)[0] == 0


def test_session_attributes_pyvisa_reads(rm, peer, emulator):
    with open_peer(rm, peer) as inst:
        assert inst.resource_name == f"TCPIP0::127.0.0.1::{peer.port}::SOCKET"
        assert inst.interface_type == constants.InterfaceType.tcpip
        if rm.backend_name == "@py":
            return  # pyvisa-py has neither VI_ATTR_IO_PROT nor the TCPIP attributes
        assert inst.io_protocol == constants.IOProtocol.normal
        assert inst.get_visa_attribute(constants.VI_ATTR_TCPIP_PORT) == peer.port
        assert inst.get_visa_attribute(constants.VI_ATTR_TCPIP_ADDR) == "127.0.0.1"
    with rm.open_resource(emulator.serial) as inst:
        assert inst.baud_rate == 9600
        inst.baud_rate = 19200
        assert inst.baud_rate == 19200
        assert inst.data_bits == 8
        assert inst.parity == constants.Parity.none
        assert inst.get_visa_attribute(constants.VI_ATTR_FILE_APPEND_EN) == constants.VI_FALSE
        assert inst.resource_manufacturer_name == "TARVEK VISA"


def test_close_and_resource_manager_close(rm, peer):
    inst = open_peer(rm, peer)
    other = open_peer(rm, peer)
    inst.close()
    with pytest.raises(pyvisa.InvalidSession):
        inst.query("*IDN?")
    rm.close()
    with pytest.raises(pyvisa.InvalidSession):
        other.query("*IDN?")


def test_context_managers(rm, peer):
    with rm.open_resource(peer.resource, read_termination="\n",
                          write_termination="\n") as inst:
        assert inst.query("*IDN?") == "Peer,1,2,3"
    with pytest.raises(pyvisa.InvalidSession):
        inst.session


def test_unsupported_interfaces_answer_not_supported(tk, peer):
    with open_peer(tk, peer) as inst:
        lib, session = inst.visalib, inst.session
        for call in (lambda: lib.gpib_control_ren(session, constants.RENLineOperation.asrt),
                     lambda: lib.gpib_send_ifc(session),
                     lambda: lib.in_8(session, constants.AddressSpace.a16, 0),
                     lambda: lib.map_address(session, constants.AddressSpace.a16, 0, 4),
                     lambda: lib.usb_control_out(session, 0, 0, 0, 0)):
            with pytest.raises(pyvisa.VisaIOError) as excinfo:
                call()
            assert error_of(excinfo) == StatusCode.error_nonsupported_operation
        assert inst.query("*IDN?") == "Peer,1,2,3"


# ----- Buffers and formatting through the C interface ------------------------

@pytest.fixture
def clib():
    if not LIBRARY:
        pytest.skip("TKVISA_LIBRARY names no library")
    return ctypes.CDLL(LIBRARY)


def test_buffers_and_string_formatting(tk, peer, clib):
    peer.script[b"BUF?"] = b"12,abc\n"
    with open_peer(tk, peer) as inst:
        lib, session = inst.visalib, inst.session
        lib.set_buffer(session, constants.BufferType.write, 64)
        assert inst.get_visa_attribute(constants.VI_ATTR_WR_BUF_SIZE) == 64
        lib.set_buffer(session, constants.BufferType.read, 8)
        assert inst.get_visa_attribute(constants.VI_ATTR_RD_BUF_SIZE) == 8
        lib.buffer_write(session, b"BUF")
        lib.buffer_write(session, b"?\n")
        time.sleep(0.05)
        assert peer.received == b""  # held until flushed
        lib.flush(session, constants.BufferOperation.flush_write_buffer)
        assert peer.wait_for(b"BUF?\n") == b"BUF?\n"
        data, _ = lib.buffer_read(session, 64)
        assert data == b"12,abc\n"

        text = ctypes.create_string_buffer(64)
        assert clib.viSPrintf(session, text, b"VOLT %d,%s\\n", ctypes.c_int(5),
                              ctypes.c_char_p(b"x")) == 0
        assert text.value == b"VOLT 5,x\n"
        number = ctypes.c_int32()
        word = ctypes.create_string_buffer(256)
        assert clib.viSScanf(session, b"42,volts", b"%ld,%s", ctypes.byref(number), word) == 0
        assert (number.value, word.value) == (42, b"volts")
        assert clib.viSScanf(session, b"x", b"%ld", ctypes.byref(number)) < 0


def test_pyvisa_info_names_the_library(tmp_path):
    if not LIBRARY:
        pytest.skip("TKVISA_LIBRARY names no library")
    (tmp_path / ".pyvisarc").write_text(f"[Paths]\nvisa library={LIBRARY}\n")
    environment = dict(os.environ, HOME=str(tmp_path))
    output = subprocess.run([sys.executable, "-c", "from pyvisa.cmd_line_tools import "
                             "visa_info; visa_info()"], env=environment, capture_output=True,
                            text=True, timeout=60).stdout
    assert LIBRARY in output
    assert "Vendor: TARVEK VISA" in output


def test_pyvisa_shell_runs_a_query(peer, tmp_path):
    if not LIBRARY:
        pytest.skip("TKVISA_LIBRARY names no library")
    # PyVISA 1.11's "-b" names a backend ("@ivi"), not a file: the library
    # comes from ~/.pyvisarc.
    (tmp_path / ".pyvisarc").write_text(f"[Paths]\nvisa library={LIBRARY}\n")
    environment = dict(os.environ, HOME=str(tmp_path))
    commands = f"open {peer.resource}\ntermchar LF LF\nquery *IDN?\nclose\nexit\n"
    result = subprocess.run([sys.executable, "-c", "from pyvisa.cmd_line_tools import "
                             "visa_shell; visa_shell()", "-b", "ivi"], input=commands,
                            env=environment, capture_output=True, text=True, timeout=60)
    assert "Response: Peer,1,2,3" in result.stdout, result.stdout + result.stderr


@pytest.mark.parametrize("size, element, reply, expected", [
    (b"", ctypes.c_uint8, b"#210" + PAYLOAD + b"\n", list(PAYLOAD)),
    (b"h", ctypes.c_int16, b"#14\x00\x0a\xff\xfe\n", [10, -2]),
    (b"l", ctypes.c_int32, b"#18\x00\x00\x00\x0a\x80\x00\x00\x00\n", [10, -2**31]),
    (b"", ctypes.c_uint8, b"#0ABC\n", [65, 66, 67]),  # indefinite: up to the end
    (b"", ctypes.c_uint8, b"#10\n", []),
])
def test_scanf_reads_binary_blocks(tk, peer, clib, size, element, reply, expected):
    peer.script[b"BLK?"] = reply
    with open_peer(tk, peer) as inst:
        inst.set_visa_attribute(constants.VI_ATTR_TERMCHAR_EN, constants.VI_TRUE)
        count = ctypes.c_int32(16)
        array = (element * 16)()
        # %*t takes the rest of the message (the line feed after a block).
        assert clib.viQueryf(inst.session, b"BLK?\n", b"%#" + size + b"b%*t",
                             ctypes.byref(count), array) == 0
        assert list(array[:count.value]) == expected
        # A block longer than the array fills it and drops the rest.
        count = ctypes.c_int32(2)
        assert clib.viQueryf(inst.session, b"BLK?\n", b"%#" + size + b"b%*t",
                             ctypes.byref(count), array) == 0
        assert list(array[:count.value]) == expected[:2]
        assert inst.query("*IDN?") == "Peer,1,2,3"


def test_scanf_refuses_bad_blocks(tk, peer, clib):
    peer.script[b"BAD?"] = b"#15AB\n"
    peer.script[b"NOT?"] = b"12345\n"
    with open_peer(tk, peer, timeout=200) as inst:
        count = ctypes.c_int32(16)
        array = (ctypes.c_uint8 * 16)()
        # The block announces more bytes than ever come: a timeout.
        assert clib.viQueryf(inst.session, b"BAD?\n", b"%#b", ctypes.byref(count),
                             array) == StatusCode.error_timeout
        assert clib.viQueryf(inst.session, b"NOT?\n", b"%#b", ctypes.byref(count),
                             array) == StatusCode.error_invalid_format
        # Without a bound for the array the conversion is refused.
        assert clib.viQueryf(inst.session, b"NOT?\n", b"%b", array) == \
            StatusCode.error_nonsupported_format
        assert inst.read() == "12345"  # the refused format read nothing
        assert inst.query("*IDN?") == "Peer,1,2,3"


def test_vxi11_device_operations_and_locks(rm, vxi11_emulator):
    first = rm.open_resource(vxi11_emulator, read_termination="\n", write_termination="\n",
                             timeout=2000)
    second = rm.open_resource(vxi11_emulator, read_termination="\n", write_termination="\n",
                              timeout=2000)
    try:
        assert first.query("*IDN?") == "Norvale,6313,SN000001,1.02"
        assert 0 <= first.read_stb() <= 255  # device_readstb, whatever VI_ATTR_IO_PROT says
        first.assert_trigger()
        first.clear()
        first.lock_excl(timeout=100)
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            second.query("*IDN?")
        if rm.backend_name == "tkvisa":
            # VISA: another session's operation on a locked resource is
            # VI_ERROR_RSRC_LOCKED; pyvisa-py only relays the device's refusal
            # (VI_ERROR_IO).
            assert error_of(excinfo) == StatusCode.error_resource_locked
        with pytest.raises(pyvisa.VisaIOError) as excinfo:
            second.lock_excl(timeout=100)
        # VISA: a lock not granted within the timeout is VI_ERROR_TMO;
        # pyvisa-py answers VI_ERROR_RSRC_LOCKED at once.
        expected = (StatusCode.error_timeout if rm.backend_name == "tkvisa"
                    else StatusCode.error_resource_locked)
        assert error_of(excinfo) == expected
        first.unlock()
        assert second.query("*IDN?") == "Norvale,6313,SN000001,1.02"
    finally:
        first.close()
        second.close()


def test_vxi11_lock_holds_the_device_against_other_clients(tk, vxi11_emulator):
    # The first exclusive lock also takes the device's own lock, so another
    # VISA (here pyvisa-py, on a link of its own) is kept off as well.
    other_rm = pyvisa.ResourceManager("@py")
    inst = tk.open_resource(vxi11_emulator, read_termination="\n", write_termination="\n")
    other = other_rm.open_resource(vxi11_emulator, read_termination="\n",
                                   write_termination="\n", timeout=500)
    try:
        inst.lock_excl(timeout=100)
        with pytest.raises(pyvisa.VisaIOError):
            other.query("*IDN?")
        inst.unlock()
        assert other.query("*IDN?") == "Norvale,6313,SN000001,1.02"
    finally:
        other.close()
        other_rm.close()
        inst.close()


def test_vxi11_close_frees_the_lock_and_link_for_other_clients(tk, vxi11_keeping_emulator):
    # The emulator keeps a link and its lock until destroy_link, however the
    # connection ends: only the goodbye at close frees them. pyvisa-py, an
    # independent client, must then find the device free at once.
    for _ in range(20):
        inst = tk.open_resource(vxi11_keeping_emulator, read_termination="\n",
                                write_termination="\n")
        inst.lock_excl(timeout=100)
        inst.close()
    other_rm = pyvisa.ResourceManager("@py")
    other = other_rm.open_resource(vxi11_keeping_emulator, read_termination="\n",
                                   write_termination="\n", timeout=500)
    try:
        assert other.query("*IDN?") == "Norvale,6313,SN000001,1.02"
    finally:
        other.close()
        other_rm.close()


def test_vxi11_service_request_arrives_as_an_event(tk, vxi11_emulator):
    # pyvisa-py has no interrupt channel, so only the project's library runs this.
    inst = tk.open_resource(vxi11_emulator, read_termination="\n", write_termination="\n",
                            timeout=2000)
    try:
        inst.enable_event(constants.EventType.service_request, constants.EventMechanism.queue)
        inst.write("*CLS")
        inst.write("*ESE 1;*SRE 32;*OPC")
        response = inst.wait_on_event(constants.EventType.service_request, 2000)
        assert response.event.event_type == constants.EventType.service_request
        assert inst.read_stb() & 0x40
        inst.disable_event(constants.EventType.service_request, constants.EventMechanism.queue)
    finally:
        inst.close()
