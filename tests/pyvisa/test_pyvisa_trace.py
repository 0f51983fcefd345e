"""The I/O trace of libtkvisa as PyVISA drives it: a session's trace, read
with the library's own viTkReadTrace, holds exactly the bytes a scripted
peer received and sent, and TKVISA_TRACE_FILE traces a PyVISA program."""
from __future__ import annotations

import ctypes
import os
import re
import subprocess
import sys
from typing import List, Tuple

import pytest

from conftest import LIBRARY

VI_ATTR_TKVISA_TRACE_EN = 0x3FFF8001
LINE = re.compile(r'^(\d+\.\d{6}) 0x([0-9A-F]{8}) (write|read|event) (\S+) 0x([0-9A-F]{8}) "(.*)"$')


def parse(text: str) -> List[Tuple[str, str, bytes]]:
    """(direction, call, data) of each line of the trace format."""
    entries = []
    for line in text.splitlines():
        match = LINE.match(line)
        assert match, line
        data = match.group(6).encode("latin-1").decode("unicode_escape").encode("latin-1")
        entries.append((match.group(3), match.group(4), data))
    return entries


def read_trace(rm, session: int) -> str:
    read = rm.visalib.lib.viTkReadTrace
    read.argtypes = [ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32,
                     ctypes.POINTER(ctypes.c_uint32)]
    read.restype = ctypes.c_int32
    needed = ctypes.c_uint32()
    assert read(session, None, 0, ctypes.byref(needed)) == 0
    buffer = ctypes.create_string_buffer(needed.value)
    assert read(session, buffer, needed.value, ctypes.byref(needed)) == 0
    return buffer.value.decode("latin-1")


def test_trace_holds_the_bytes_the_peer_received_and_sent(tk, peer):
    with tk.open_resource(peer.resource, read_termination="\n", write_termination="\n") as inst:
        inst.set_visa_attribute(VI_ATTR_TKVISA_TRACE_EN, 1)
        assert inst.query("*IDN?") == "Peer,1,2,3"
        inst.write_raw(b"DATA #13\x00\xff\"\\\r\n")
        received = peer.wait_for(b"\r\n")
        entries = parse(read_trace(tk, inst.session))
    written = b"".join(data for direction, _, data in entries if direction == "write")
    read = b"".join(data for direction, _, data in entries if direction == "read")
    assert written == received
    assert read == b"Peer,1,2,3\n"
    assert [(direction, call) for direction, call, _ in entries] == [
        ("write", "viWrite"), ("read", "viRead"), ("write", "viWrite")]


def test_trace_file_of_a_pyvisa_program(peer, tmp_path):
    if not LIBRARY:
        pytest.skip("TKVISA_LIBRARY names no library")
    path = tmp_path / "trace.log"
    script = ("import sys, pyvisa\n"
              "rm = pyvisa.ResourceManager(sys.argv[1])\n"
              "inst = rm.open_resource(sys.argv[2], read_termination='\\n',"
              " write_termination='\\n')\n"
              "assert inst.query('*IDN?') == 'Peer,1,2,3'\n"
              "rm.close()\n")
    subprocess.run([sys.executable, "-c", script, LIBRARY, peer.resource], check=True,
                   timeout=60, env=dict(os.environ, TKVISA_TRACE_FILE=str(path)))
    entries = parse(path.read_text(encoding="latin-1"))
    assert entries[0][:2] == ("event", "viOpen")
    assert entries[1:] == [("write", "viWrite", b"*IDN?\n"), ("read", "viRead", b"Peer,1,2,3\n"),
                           ("event", "viClose", b"close")]
