"""Fixtures of the PyVISA tests: the project's VISA library (TKVISA_LIBRARY)
and pyvisa-py ("@py") as resource managers, the emulator as a program on a
free port, and a scripted loopback peer that records every byte it receives."""
from __future__ import annotations

import os
import socket
import subprocess
import threading
from typing import Callable, Dict, Iterator, List, Optional, Union

import pytest
import pyvisa

LIBRARY = os.environ.get("TKVISA_LIBRARY", "")
EMULATOR = os.environ.get("TARVEK_EMULATOR", "")
BACKENDS = ["tkvisa", "@py"]

Reply = Union[bytes, Callable[[bytes], Optional[bytes]], None]


def open_manager(backend: str) -> pyvisa.ResourceManager:
    if backend == "tkvisa":
        if not LIBRARY:
            pytest.skip("TKVISA_LIBRARY names no library")
        return pyvisa.ResourceManager(LIBRARY)
    try:
        return pyvisa.ResourceManager(backend)
    except (OSError, ValueError) as error:  # pyvisa-py not installed
        pytest.skip(f"{backend} is not available: {error}")


@pytest.fixture(params=BACKENDS)
def rm(request) -> Iterator[pyvisa.ResourceManager]:
    manager = open_manager(request.param)
    manager.backend_name = request.param  # type: ignore[attr-defined]
    yield manager
    manager.close()


@pytest.fixture
def tk() -> Iterator[pyvisa.ResourceManager]:
    """The project's library only: features pyvisa-py does not offer."""
    manager = open_manager("tkvisa")
    manager.backend_name = "tkvisa"  # type: ignore[attr-defined]
    yield manager
    manager.close()


class Peer:
    """A TCP server on a free port. Each line (up to a line feed) it receives
    is looked up in ``script``: bytes are sent back, a callable gets the line
    and returns the reply, None (or a missing entry) sends nothing.
    ``received`` holds every byte of every connection, in order."""

    def __init__(self, script: Dict[bytes, Reply]) -> None:
        self.script = script
        self.received = bytearray()
        self._condition = threading.Condition()
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(8)
        self.port = self._listener.getsockname()[1]
        self.resource = f"TCPIP::127.0.0.1::{self.port}::SOCKET"
        self._connections: List[socket.socket] = []
        self._closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self) -> None:
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            self._connections.append(connection)
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection: socket.socket) -> None:
        pending = b""
        while True:
            try:
                chunk = connection.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            with self._condition:
                self.received += chunk
                self._condition.notify_all()
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                reply = self.script.get(line)
                if callable(reply):
                    reply = reply(line)
                if reply:
                    connection.sendall(reply)

    def wait_for(self, data: bytes, timeout: float = 5.0) -> bytes:
        """Waits until the bytes received end with data; returns them all."""
        with self._condition:
            self._condition.wait_for(lambda: bytes(self.received).endswith(data), timeout)
            return bytes(self.received)

    def close(self) -> None:
        self._listener.close()
        for connection in self._connections:
            connection.close()


@pytest.fixture
def peer() -> Iterator[Peer]:
    server = Peer({b"*IDN?": b"Peer,1,2,3\n"})
    yield server
    server.close()


def stop_process(process: subprocess.Popen) -> None:
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(10)


class Emulator:
    def __init__(self) -> None:
        if not EMULATOR:
            pytest.skip("TARVEK_EMULATOR names no emulator program")
        self.process = subprocess.Popen([EMULATOR, "--port", "0", "--serial-pty"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        text=True)
        assert self.process.stdout is not None
        self.resource = self.process.stdout.readline().strip()
        self.serial = self.process.stdout.readline().strip()
        if not self.resource.startswith("TCPIP::") or not self.serial.startswith("ASRL"):
            self.process.kill()
            raise RuntimeError(f"the emulator did not start: {self.resource!r}")

    def stop(self) -> None:
        stop_process(self.process)


@pytest.fixture(scope="module")
def emulator() -> Iterator[Emulator]:
    running = Emulator()
    yield running
    running.stop()


# VXI-11 clients find the core channel through the portmapper on port 111, so
# this emulator takes an address of its own that no other test uses.
VXI11_HOST = "127.0.17.61"


# The same, on an address of its own, keeping links and the lock after their
# connection ends, until destroy_link.
VXI11_KEEPING_HOST = "127.0.17.62"


def start_vxi11_emulator(host: str, extra: list) -> Iterator[str]:
    if not EMULATOR:
        pytest.skip("TARVEK_EMULATOR names no emulator program")
    process = subprocess.Popen([EMULATOR, "--host", host, "--port", "0", "--vxi11",
                                "--rpc-port", "111"] + extra, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    assert process.stdout is not None
    process.stdout.readline()
    resource = process.stdout.readline().strip()
    if not resource.endswith("::INSTR"):
        process.kill()
        process.wait(10)
        pytest.skip(f"no VXI-11 emulator on {host}:111 (needs the privileged port)")
    yield resource
    stop_process(process)


@pytest.fixture(scope="module")
def vxi11_emulator() -> Iterator[str]:
    yield from start_vxi11_emulator(VXI11_HOST, [])


@pytest.fixture(scope="module")
def vxi11_keeping_emulator() -> Iterator[str]:
    yield from start_vxi11_emulator(VXI11_KEEPING_HOST, ["--vxi11-keep-links"])
