"""Fixtures of the panel's tests: emulator programs and panel servers started
as programs on free loopback ports, and websocket viewers speaking the
panel's protocol."""
from __future__ import annotations

import asyncio
import json
import os
import signal
import subprocess
import sys
import time
from typing import Any, Callable, Dict, Iterator, List, Optional

import pytest

EMULATOR = os.environ.get("TARVEK_EMULATOR", "")
START_TIMEOUT = 20.0

Message = Dict[str, Any]


class Program:
    """A program started for a test; stopped (and reaped) at the end."""

    def __init__(self, argv: List[str], env: Optional[Dict[str, str]] = None) -> None:
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, errors="replace", env=env)

    def first_line(self) -> str:
        assert self.process.stdout is not None
        line = self.process.stdout.readline().strip()
        if not line:
            self.stop()
            raise RuntimeError(f"{self.process.args[0]} did not start: "
                               f"{self.process.stderr.read() if self.process.stderr else ''}")
        return line

    def signal(self, number: int) -> None:
        if self.process.poll() is None:
            self.process.send_signal(number)

    def stop(self, timeout: float = 10.0) -> int:
        """SIGTERM, then SIGKILL if it does not end in time; the exit status."""
        self.signal(signal.SIGCONT)
        self.signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise


class Emulator(Program):
    def __init__(self, model: str = "6313") -> None:
        if not EMULATOR:
            pytest.skip("TARVEK_EMULATOR names no emulator program")
        super().__init__([EMULATOR, "--model", model, "--port", "0"])
        self.resource = self.first_line()


class Panel(Program):
    """python3 -m tarvek.panel on a free port of 127.0.0.1."""

    def __init__(self, *args: str, env: Optional[Dict[str, str]] = None) -> None:
        environment = dict(os.environ)
        environment.update(env or {})
        super().__init__([sys.executable, "-m", "tarvek.panel", *args, "--port", "0"],
                         environment)
        line = self.first_line()
        self.url = line.split(" at ", 1)[1].split("?", 1)[0]
        self.start_url = line.split(" at ", 1)[1]
        self.ws_url = self.url.replace("http://", "ws://") + "ws"


@pytest.fixture()
def emulator() -> Iterator[Emulator]:
    instrument = Emulator()
    yield instrument
    instrument.stop()


@pytest.fixture()
def panel(emulator: Emulator) -> Iterator[Panel]:
    server = Panel(emulator.resource)
    yield server
    assert server.stop() == 0


class Viewer:
    """One page's websocket, as a test drives it."""

    def __init__(self, session: Any, socket: Any) -> None:
        self.session = session
        self.socket = socket
        self.next_id = 1
        self.hello: Message = {}

    @classmethod
    async def open(cls, url: str, **kwargs: Any) -> "Viewer":
        import aiohttp
        session = aiohttp.ClientSession()
        try:
            socket = await session.ws_connect(url, **kwargs)
        except Exception:
            await session.close()
            raise
        viewer = cls(session, socket)
        viewer.hello = await viewer.until(lambda m: m["type"] == "hello")
        # A page that came before the session was open: what it is told
        # while the station opens it completes the hello.
        while not viewer.hello["connected"]:
            message = await viewer.receive(timeout=10.0)
            if message["type"] == "identity":
                viewer.hello.update(identity=message["identity"], channels=message["channels"])
            elif message["type"] == "trace_mode":
                viewer.hello["trace"] = message
            elif message["type"] == "status":
                viewer.hello.update(connected=message["connected"], status=message["status"])
        return viewer

    async def receive(self, timeout: float = 5.0) -> Message:
        import aiohttp
        message = await self.socket.receive(timeout=timeout)
        if message.type != aiohttp.WSMsgType.TEXT:
            raise ConnectionError(f"the websocket ended: {message.type} {message.data}")
        return json.loads(message.data)

    async def until(self, predicate: Callable[[Message], bool], timeout: float = 5.0) -> Message:
        """The first message satisfying predicate; those before it are dropped."""
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("the awaited message did not come")
            message = await self.receive(remaining)
            if predicate(message):
                return message

    async def send(self, op: str, args: Optional[Message] = None, **extra: Any) -> int:
        number = self.next_id
        self.next_id += 1
        payload = {"id": number, "op": op, "args": args or {}}
        payload.update(extra)
        await self.socket.send_str(json.dumps(payload))
        return number

    async def request(self, op: str, args: Optional[Message] = None, timeout: float = 10.0,
                      **extra: Any) -> Message:
        number = await self.send(op, args, **extra)
        return await self.until(lambda m: m["type"] == "result" and m.get("id") == number,
                                timeout)

    async def sample(self, predicate: Callable[[Message], bool] = lambda m: True,
                     timeout: float = 5.0) -> Message:
        return await self.until(lambda m: m["type"] == "sample" and predicate(m), timeout)

    async def close(self) -> None:
        await self.socket.close()
        await self.session.close()


def output(sample: Message, name: str) -> Message:
    return next(entry for entry in sample["outputs"] if entry["name"] == name)


def run(coroutine: Any) -> Any:
    return asyncio.run(coroutine)
