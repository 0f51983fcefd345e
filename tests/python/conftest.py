"""Fixtures of the Python package's tests: emulators started as programs on
free ports, with every message they receive recorded from their trace."""
from __future__ import annotations

import os
import re
import signal
import socket
import subprocess
import threading
import time
from typing import Iterator, List, Tuple

import pytest

import tarvek

EMULATOR = os.environ.get("TARVEK_EMULATOR", "")
TRACE_RE = re.compile(r"^\[emulator #(\d+)\] (<-|->|--) (.*)$")
# The emulator models of the two families.
MODELS = {"Series6310": "6313", "Series6510": "6512"}
MARKER = "SYST:VERS?"


class Emulator:
    """A running tarvek-emulator program. ``lines()`` gives the messages
    received since the last ``clear()``, exactly as sent and without the
    final line feed, once every message sent before the call has arrived."""

    def __init__(self, model: str) -> None:
        if not EMULATOR:
            pytest.skip("TARVEK_EMULATOR names no emulator program")
        self.model = model
        self.process = subprocess.Popen([EMULATOR, "--model", model, "--port", "0", "--trace"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, errors="replace")
        assert self.process.stdout is not None
        self.resource = self.process.stdout.readline().strip()
        if not self.resource.startswith("TCPIP::"):
            self.process.kill()
            raise RuntimeError(f"the emulator did not start: {self.resource!r}")
        self.port = int(self.resource.split("::")[2])
        self._condition = threading.Condition()
        self._trace: List[Tuple[int, str, str]] = []
        self._start = 0
        self._markers: set = set()
        self._count = 0
        self._reader = threading.Thread(target=self._read_trace, daemon=True)
        self._reader.start()

    def _read_trace(self) -> None:
        assert self.process.stderr is not None
        for line in self.process.stderr:
            match = TRACE_RE.match(line.rstrip("\n"))
            if match:
                with self._condition:
                    self._trace.append((int(match.group(1)), match.group(2), match.group(3)))
                    self._condition.notify_all()

    def _marker(self) -> str:
        """A harmless query spelled in a letter case of its own: the emulator
        accepts any case, and the driver never sends lower case."""
        self._count = self._count % 255 + 1
        return "".join(c.lower() if c.isalpha() and self._count >> (n % 8) & 1 else c
                       for n, c in enumerate(MARKER))

    def _sync(self, timeout: float = 10.0) -> None:
        """Sends a marker query on a connection of its own and waits for its
        trace: the driver's calls have returned, so their messages were
        traced before it."""
        marker = self._marker()
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as connection:
            connection.sendall((marker + "\n").encode())
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = connection.recv(256)
                if not chunk:
                    break
                reply += chunk
        deadline = time.monotonic() + timeout
        with self._condition:
            while True:
                for number, direction, text in self._trace[self._start:]:
                    if direction == "<-" and text == marker:
                        self._markers.add(number)
                        return
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise TimeoutError("the emulator's trace did not show the marker")
                self._condition.wait(remaining)

    def lines(self, status_checks: bool = False) -> List[str]:
        """Messages received since clear(); without the "*ESR?" status
        checks unless status_checks is true."""
        self._sync()
        with self._condition:
            return [text for number, direction, text in self._trace[self._start:]
                    if direction == "<-" and number not in self._markers
                    and (status_checks or text != "*ESR?")]

    def clear(self) -> None:
        self._sync()
        with self._condition:
            self._start = len(self._trace)

    def stop(self) -> None:
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@pytest.fixture(scope="module", params=sorted(MODELS), ids=sorted(MODELS))
def emulator(request: pytest.FixtureRequest) -> Iterator[Emulator]:
    """An emulator of each family, shared by a module's tests."""
    instrument = Emulator(MODELS[request.param])
    instrument.family = request.param  # type: ignore[attr-defined]
    yield instrument
    instrument.stop()


@pytest.fixture()
def live(emulator: Emulator) -> Iterator[tarvek.Session]:
    """A session with the emulator (status checks after every command, so
    every call has reached the instrument when it returns), lines cleared."""
    with tarvek.Session(emulator.resource, options={"query_instr_status": True}) as session:
        emulator.clear()
        yield session


@pytest.fixture(params=sorted(MODELS), ids=sorted(MODELS))
def simulated(request: pytest.FixtureRequest) -> Iterator[tarvek.Session]:
    """A simulated session of each family."""
    options = {"simulate": True, "driver_setup": {"Model": MODELS[request.param]}}
    with tarvek.Session("", options=options) as session:
        yield session


def family_of(session: tarvek.Session) -> str:
    return "Series6510" if session.channel_count == 1 else "Series6310"


def supported(info: tarvek.AttributeInfo, family: str) -> bool:
    return info.unsupported is None or family not in info.unsupported.split(",")
