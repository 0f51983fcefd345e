"""The panel's server: control lock, dropped pages, an instrument that stops
answering, the token rule and hostile input, over real loopback connections
to a panel program and an emulator program."""
from __future__ import annotations

import asyncio
import json
import os
import queue
import signal
import socket
import time
import urllib.error
import urllib.request
from types import SimpleNamespace
from typing import Any, Dict, List, Optional, Tuple

import pytest

import tarvek
from conftest import Emulator, Panel, Program, Viewer, output, run
from tarvek.panel._server import CLIENT_QUEUE, Client, is_loopback, needs_token
from tarvek.panel._station import Station, escape_bytes, is_io_failure


def http(url: str, headers: Optional[Dict[str, str]] = None,
         timeout: float = 5.0) -> Tuple[int, Dict[str, str], bytes]:
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as response:
            return response.status, dict(response.headers), response.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


# -- Decisions that need no server ------------------------------------------


@pytest.mark.parametrize("bind,loopback", [
    ("127.0.0.1", True),
    ("127.3.4.5", True),
    ("::1", True),
    ("[::1]", True),
    ("localhost", True),
    ("LOCALHOST", True),
    ("0.0.0.0", False),
    ("::", False),
    ("192.168.1.20", False),
    ("10.0.0.1", False),
    ("fe80::1", False),
    ("bench-pc.example", False),
    ("", False),
    ("127.0.0.1.evil.example", False),
])
def test_anything_but_loopback_needs_a_token(bind: str, loopback: bool) -> None:
    assert is_loopback(bind) is loopback
    assert needs_token(bind, token_given=False) is not loopback
    assert needs_token(bind, token_given=True)


@pytest.mark.parametrize("data,text", [
    (b"*IDN?\n", "*IDN?\\n"),
    (b"a\\b", "a\\\\b"),
    (b"\x00\xff\r", "\\x00\\xff\\r"),
])
def test_trace_bytes_read_as_escaped_text(data: bytes, text: str) -> None:
    assert escape_bytes(data) == text


def test_only_visa_statuses_count_as_a_lost_instrument() -> None:
    assert is_io_failure(tarvek.Error(-1073807339, "timeout"))        # 0xBFFF0015
    assert is_io_failure(tarvek.Error(-1073807194, "connection lost"))  # 0xBFFF00A6
    assert not is_io_failure(tarvek.Error(-1074135024, "invalid value"))  # 0xBFFA0010
    assert not is_io_failure(ValueError("no code"))


def test_a_viewer_that_stops_reading_is_dropped_not_waited_for() -> None:
    class StuckSocket:
        """A page whose connection accepts one message and then no more."""
        closed = False
        sent = 0

        async def send_str(self, text: str) -> None:
            self.sent += 1
            if self.sent > 1:
                await asyncio.Event().wait()

        async def close(self) -> None:
            self.closed = True

    async def scenario() -> None:
        socket = StuckSocket()
        client = Client(1, socket, "viewer 1")  # type: ignore[arg-type]
        client.writer = asyncio.ensure_future(client.write())
        client.send({"type": "hello"})
        client.send({"type": "sample"})
        while socket.sent < 2:
            await asyncio.sleep(0.01)  # the writer now waits on the stuck connection
        started = time.monotonic()
        for number in range(CLIENT_QUEUE + 10):
            client.send({"type": "sample", "n": number})  # never blocks the sender
        assert time.monotonic() - started < 1.0
        await asyncio.wait_for(client.writer, 5.0)
        assert socket.closed and socket.sent == 2
    run(scenario())


# -- Control --------------------------------------------------------------


def test_two_clients_racing_for_control_get_one_controller(panel: Panel) -> None:
    async def scenario() -> None:
        first, second = await Viewer.open(panel.ws_url), await Viewer.open(panel.ws_url)
        try:
            results = await asyncio.gather(first.request("take_control"),
                                           second.request("take_control"))
            assert sorted(result["ok"] for result in results) == [False, True]
            winner, loser = (first, second) if results[0]["ok"] else (second, first)
            refused = results[1] if results[0]["ok"] else results[0]
            assert refused["error"] == f"viewer {winner.hello['you']} has control"
            denied = await loser.request("set", {"channel": "CH1", "voltage": 1.0})
            assert not denied["ok"] and denied["error"].startswith("read-only")
            granted = await winner.request("set", {"channel": "CH1", "voltage": 1.5})
            assert granted == {"type": "result", "id": granted["id"], "ok": True}
            # Taking over is explicit, and the previous holder is told.
            assert (await loser.request("take_control", force=True))["ok"]
            notice = await winner.until(lambda m: m["type"] == "control" and
                                        m["controller"] == loser.hello["you"])
            assert not notice["you_control"]
            told = await winner.until(lambda m: m["type"] == "notice")
            assert told["text"] == f"viewer {loser.hello['you']} took control"
            assert not (await winner.request("clear_protection", {"channel": "CH1"}))["ok"]
            assert (await loser.request("release_control"))["ok"]
            assert (await winner.request("take_control"))["ok"]
        finally:
            await first.close()
            await second.close()
    run(scenario())


def test_a_dropped_controller_frees_control_and_its_list_runs_on(panel: Panel) -> None:
    async def scenario() -> None:
        watcher = await Viewer.open(panel.ws_url)
        controller = await Viewer.open(panel.ws_url)
        try:
            assert (await controller.request("take_control"))["ok"]
            steps = [{"voltage": 2.0, "current": 0.5, "dwell": 0.15},
                     {"voltage": 3.0, "current": 0.5, "dwell": 0.15}]
            started = await controller.request("list_run", {"channel": "CH1", "steps": steps,
                                                            "repeat": 1})
            assert started["ok"], started
            # The page goes away mid-stream, without a closing handshake.
            controller.socket._response.connection.transport.abort()
            freed = await watcher.until(lambda m: m["type"] == "control" and m["viewers"] == 1)
            assert freed["controller"] is None
            running = await watcher.until(lambda m: m["type"] == "list" and m["step"] == 2)
            assert running["state"] == "running"
            seen = await watcher.sample(lambda m: abs(output(m, "CH1")["v"] - 3.0) < 1e-6)
            assert output(seen, "CH1")["output"]
            done = await watcher.until(lambda m: m["type"] == "list" and m["state"] != "running")
            assert done["state"] == "finished"
            # The output was off before the list: it is off again after.
            await watcher.sample(lambda m: not output(m, "CH1")["output"])
        finally:
            await watcher.close()
            await controller.session.close()
    run(scenario())


# -- Live values, protection, errors, the log ----------------------------------


def test_the_first_sample_after_a_change_shows_it(panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            done = await viewer.request("set", {"channel": "CH2", "voltage": 7.5,
                                                "current": 0.5, "output": True})
            assert done["ok"], done
            sample = await viewer.sample()
            ch2 = output(sample, "CH2")
            assert (ch2["v"], ch2["set_v"], ch2["set_i"], ch2["output"], ch2["state"]) == \
                (7.5, 7.5, 0.5, True, "CV")
            assert ch2["i"] == pytest.approx(0.0075) and ch2["p"] == pytest.approx(7.5 * 0.0075)
        finally:
            await viewer.close()
    run(scenario())


def test_a_trip_shows_as_state_and_event_and_clears(panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            assert (await viewer.request("set", {"channel": "CH3", "voltage": 5.0,
                                                 "output": True}))["ok"]
            tripped = await viewer.request("set", {"channel": "CH3", "ocp_level": 0.001,
                                                   "ocp_enabled": True})
            assert tripped["ok"], tripped
            event = await viewer.until(lambda m: m["type"] == "error")
            assert (event["source"], event["message"]) == (
                "protection", "CH3: over-current protection tripped, output off")
            sample = await viewer.sample(lambda m: output(m, "CH3")["state"] == "OCP")
            assert output(sample, "CH3")["ocp_tripped"] and not output(sample, "CH3")["output"]
            assert (await viewer.request("set", {"channel": "CH3", "ocp_level": 1.0}))["ok"]
            assert (await viewer.request("clear_protection", {"channel": "CH3"}))["ok"]
            sample = await viewer.sample()
            assert (output(sample, "CH3")["state"], output(sample, "CH3")["output"]) == \
                ("CV", True)
        finally:
            await viewer.close()
    run(scenario())


def test_a_refused_value_fails_with_the_instruments_error(panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            refused = await viewer.request("set", {"channel": "CH1", "voltage": 75.0})
            assert not refused["ok"]
            assert "-222" in refused["error"] and "Data out of range" in refused["error"]
            reply = await viewer.request("scpi", {"command": "*IDN?"})
            assert reply == {"type": "result", "id": reply["id"], "ok": True,
                             "value": "Norvale,6313,SN000001,1.02"}
            bad = await viewer.request("scpi", {"command": "BOGUS:HEADER 1"})
            assert not bad["ok"] and "-113" in bad["error"]
        finally:
            await viewer.close()
        # A page that comes later is shown the errors so far.
        late = await Viewer.open(panel.ws_url)
        try:
            codes = [entry["code"] for entry in late.hello["errors"]
                     if entry["source"] == "instrument"]
            assert codes == [-222, -113]
        finally:
            await late.close()
    run(scenario())


def test_the_csv_holds_every_measurement_with_identity_and_setpoints(panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            assert (await viewer.request("set", {"channel": "CH1", "voltage": 4.0,
                                                 "output": True}))["ok"]
            for _ in range(3):
                await viewer.sample()
        finally:
            await viewer.close()
    run(scenario())
    status, headers, body = http(panel.url + "log.csv")
    assert status == 200 and headers["Content-Type"].startswith("text/csv")
    assert "attachment" in headers["Content-Disposition"]
    lines = body.decode().splitlines()
    comments = [line for line in lines if line.startswith("#")]
    assert "# manufacturer: Norvale" in comments and "# model: 6313" in comments
    header = lines[len(comments)].split(",")
    assert header[:9] == ["time_utc", "time_s", "CH1_set_V", "CH1_set_A", "CH1_output",
                          "CH1_state", "CH1_V", "CH1_A", "CH1_W"]
    assert len(header) == 2 + 3 * 7
    rows = [dict(zip(header, line.split(","))) for line in lines[len(comments) + 1:]]
    assert all(len(row) == len(header) for row in rows)
    last = rows[-1]
    assert (last["CH1_set_V"], last["CH1_V"], last["CH1_output"], last["CH1_state"]) == \
        ("4", "4", "1", "CV")
    times = [float(row["time_s"]) for row in rows]
    assert times == sorted(times)


def test_the_trace_pane_shows_the_bytes_of_a_command(panel: Panel) -> None:
    if not hasattr(tarvek.Tarvek, "io_trace"):
        pytest.skip("this tarvek package has no io_trace yet")

    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert viewer.hello["trace"]["available"]
            assert (await viewer.request("take_control"))["ok"]
            assert (await viewer.request("trace", {"mode": "commands"}))["ok"]
            number = await viewer.send("set", {"channel": "CH1", "voltage": 2.5})
            trace = await viewer.until(lambda m: m["type"] == "trace")  # before the result
            assert (await viewer.until(lambda m: m.get("id") == number))["ok"]
            writes = [entry["data"] for entry in trace["entries"] if entry["dir"] == "write"]
            assert any("VOLT" in data and "2.5" in data for data in writes), writes
        finally:
            await viewer.close()
    run(scenario())


def test_without_the_trace_api_the_pane_says_unavailable(panel: Panel) -> None:
    if hasattr(tarvek.Tarvek, "io_trace"):
        pytest.skip("this tarvek package has io_trace")

    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert viewer.hello["trace"] == {"type": "trace_mode", "available": False,
                                             "mode": "off"}
            assert (await viewer.request("trace", {"mode": "all"}))["ok"]
        finally:
            await viewer.close()
    run(scenario())


class FakeTrace:
    """Stands in for the session's io_trace where the package has none yet:
    one entry for each span the station switches it on."""

    def __init__(self) -> None:
        self._enabled = False
        self._entries: List[Any] = []
        self.spans = 0

    @property
    def enabled(self) -> bool:
        return self._enabled

    @enabled.setter
    def enabled(self, value: bool) -> None:
        if value and not self._enabled:
            self.spans += 1
            self._entries.append(SimpleNamespace(time=time.time(), direction="write",
                                                 data=b"SPAN\n", call="viWrite", status=0))
        self._enabled = value

    def entries(self) -> List[Any]:
        return list(self._entries)

    def clear(self) -> None:
        self._entries.clear()


class TracedTarvek(tarvek.Tarvek):
    __slots__ = ("io_trace",)

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        self.io_trace = FakeTrace()


def test_the_trace_records_commands_only_unless_asked_for_everything() -> None:
    messages: "queue.Queue[Dict[str, Any]]" = queue.Queue()
    station = Station("", "Simulate=1", publish=messages.put, opener=TracedTarvek)

    def call(op_name: str, **args: Any) -> Dict[str, Any]:
        done: "queue.Queue[Dict[str, Any]]" = queue.Queue()
        assert station.submit(op_name, args, done.put)
        return done.get(timeout=10)

    def next_of(kind: str) -> Dict[str, Any]:
        while True:
            message = messages.get(timeout=10)
            if message["type"] == kind:
                return message

    station.start()
    try:
        assert next_of("status")["connected"]
        trace = station.psu.io_trace
        assert station.trace_info() == {"type": "trace_mode", "available": True, "mode": "off"}
        assert call("set", channel="CH1", voltage=1.0) == {"ok": True}
        assert trace.spans == 0
        assert call("trace", mode="commands") == {"ok": True}
        assert call("set", channel="CH2", voltage=2.0) == {"ok": True}
        entries = next_of("trace")["entries"]
        assert [(entry["dir"], entry["data"], entry["call"]) for entry in entries] == \
            [("write", "SPAN\\n", "viWrite")]
        for _ in range(3):
            next_of("sample")
        assert trace.spans == 1  # the polls in between were not recorded
        assert call("trace", mode="all") == {"ok": True}
        next_of("trace")
        assert trace.spans > 1
    finally:
        station.stop()


# -- An instrument that stops answering -------------------------------------


def test_an_instrument_that_stops_answering_is_reported_and_found_again(
        emulator: Emulator, panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            await viewer.sample()
            emulator.signal(signal.SIGSTOP)
            started = time.monotonic()
            lost = await viewer.until(lambda m: m["type"] == "status", timeout=10.0)
            assert not lost["connected"] and "does not answer" in lost["status"]
            assert "VI_ERROR_TMO" in lost["status"]
            # The server itself still answers, at once.
            status, _, body = await asyncio.get_running_loop().run_in_executor(
                None, http, panel.url + "api/state")
            assert status == 200 and b'"connected": false' in body
            refused = await viewer.request("set", {"channel": "CH1", "voltage": 1.0})
            assert not refused["ok"] and refused["error"].startswith("not connected")
            assert time.monotonic() - started < 8.0
            emulator.signal(signal.SIGCONT)
            back = await viewer.until(lambda m: m["type"] == "status" and m["connected"],
                                      timeout=15.0)
            assert back["status"] == "connected"
            await viewer.sample()
            emulator.signal(signal.SIGKILL)
            gone = await viewer.until(lambda m: m["type"] == "status", timeout=10.0)
            assert not gone["connected"]
            assert (await viewer.request("ping"))["ok"]
        finally:
            await viewer.close()
    run(scenario())


# -- Token and hostile input -----------------------------------------------


def test_a_token_guards_every_path_and_is_remembered_in_a_cookie(emulator: Emulator) -> None:
    server = Panel(emulator.resource, "--token", env={"TARVEK_PANEL_TOKEN": "s3cret-token"})
    try:
        assert server.start_url == server.url + "?token=s3cret-token"
        for path in ("", "static/panel.js", "log.csv", "api/state", "ws"):
            assert http(server.url + path)[0] == 401, path
            assert http(server.url + path + "?token=wrong")[0] == 401, path
        status, headers, _ = http(server.start_url)
        assert status == 200
        cookie = headers["Set-Cookie"].split(";", 1)[0]
        assert cookie == "tarvek_panel_token=s3cret-token"
        assert "HttpOnly" in headers["Set-Cookie"]
        assert http(server.url + "api/state", {"Cookie": cookie})[0] == 200

        async def scenario() -> None:
            import aiohttp
            with pytest.raises(aiohttp.WSServerHandshakeError):
                await Viewer.open(server.ws_url)
            viewer = await Viewer.open(server.ws_url, headers={"Cookie": cookie})
            assert viewer.hello["channels"] == ["CH1", "CH2", "CH3"]
            await viewer.close()
        run(scenario())
    finally:
        assert server.stop() == 0


def op(name: str, **args: object) -> str:
    return json.dumps({"op": name, "args": args})


ONE_STEP = {"voltage": 1, "current": 1, "dwell": 1}
HOSTILE_MESSAGES: List[Tuple[str, str]] = [
    ("not json", "not JSON"),
    ("[1, 2, 3]", "a message is a JSON object"),
    ('"text"', "a message is a JSON object"),
    ('{"op": 5}', "a message has an op and args"),
    ('{"op": "set", "args": [1]}', "a message has an op and args"),
    (op("format_disk"), "unknown operation 'format_disk'"),
    (op("set", channel="CH9", voltage=1), "channel must be one of CH1, CH2, CH3"),
    (op("set", channel=["CH1"], voltage=1), "channel must be one of CH1, CH2, CH3"),
    (op("set", channel="CH1", voltage="5"), "voltage takes a number"),
    (op("set", channel="CH1", voltage=True), "voltage takes a number"),
    (op("set", channel="CH1", voltage=float("nan")), "voltage must be between 0 and 1000"),
    (op("set", channel="CH1", voltage=1e308), "voltage must be between 0 and 1000"),
    (op("set", channel="CH1", current=-1), "current must be between 0 and 1000"),
    (op("set", channel="CH1", output="on"), "output takes true or false"),
    (op("set", channel="CH1", flux=1), "unknown setting 'flux'"),
    (op("scpi", command=""), "command takes a SCPI message of 1 to 512 characters"),
    (op("scpi", command="A" * 600), "command takes a SCPI message of 1 to 512 characters"),
    (op("scpi", command="*IDN?\n*RST"),
     "command holds a control character (0x0A); the console sends one line at a time"),
    (op("list_run", channel="CH1", steps=[]), "steps takes a list of 1 to 100 steps"),
    (op("list_run", channel="CH1", steps=[ONE_STEP] * 101), "steps takes a list of 1 to 100 steps"),
    (op("list_run", channel="CH1", steps=[[1, 2, 3]]), "step 1 takes voltage, current and dwell"),
    (op("list_run", channel="CH1", steps=[dict(ONE_STEP, dwell=0)]),
     "step 1 dwell must be between 0.001 and 86400"),
    (op("list_run", channel="CH1", steps=[ONE_STEP], repeat=0),
     "repeat takes a whole number from 1 to 65535"),
    (op("list_run", channel="CH1", steps=[ONE_STEP], repeat=1.5),
     "repeat takes a whole number from 1 to 65535"),
    (op("list_abort"), "no list is running"),
    (op("trace", mode="loud"), "mode is one of off, commands, all"),
]


def test_hostile_websocket_messages_get_a_clear_answer(panel: Panel) -> None:
    async def scenario() -> None:
        viewer = await Viewer.open(panel.ws_url)
        try:
            assert (await viewer.request("take_control"))["ok"]
            for text, error in HOSTILE_MESSAGES:
                await viewer.socket.send_str(text)
                reply = await viewer.until(lambda m: m["type"] == "result")
                assert (reply["ok"], reply["error"]) == (False, error), text
            await viewer.socket.send_bytes(b"\x00\x01")
            assert (await viewer.until(lambda m: m["type"] == "result"))["error"] == \
                "binary messages are not used"
            # A flood of commands for the instrument's worker: each is run or
            # refused as busy, none is lost, and the panel still works after.
            numbers = [await viewer.send("trace", {"mode": "off"}) for _ in range(300)]
            answers: Dict[int, str] = {}
            while len(answers) < len(numbers):
                reply = await viewer.until(lambda m: m["type"] == "result")
                answers[reply["id"]] = "ok" if reply["ok"] else reply["error"]
            assert set(answers.values()) <= {"ok", "busy: too many commands waiting"}
            assert (await viewer.request("set", {"channel": "CH1", "voltage": 1.0}))["ok"]
            # An oversized message ends this connection only.
            await viewer.socket.send_str('{"op": "ping", "pad": "' + "x" * 70000 + '"}')
            with pytest.raises(ConnectionError):
                await viewer.until(lambda m: False)
        finally:
            await viewer.close()
        again = await Viewer.open(panel.ws_url)
        assert (await again.request("ping"))["ok"]
        await again.close()
    run(scenario())


def test_hostile_http_requests_are_refused_and_the_server_lives(panel: Panel) -> None:
    cases = [
        ("static/../_station.py", {}, 404),
        ("static/%2e%2e%2f_station.py", {}, 404),
        ("static/index.html", {}, 404),
        ("nothing-here", {}, 404),
        ("", {"Host": "evil.example"}, 403),
        ("api/state", {"Host": "127.0.0.1.evil.example:80"}, 403),
        ("ws", {"Origin": "http://evil.example", "Connection": "Upgrade", "Upgrade": "websocket",
                "Sec-WebSocket-Version": "13", "Sec-WebSocket-Key": "dGhlIHNhbXBsZSBub25jZQ=="},
         403),
    ]
    for path, headers, expected in cases:
        assert http(panel.url + path, headers)[0] == expected, (path, headers)
    host, port = panel.url[len("http://"):].rstrip("/").split(":")
    for junk in (b"\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03" + b"\x00" * 64,
                 b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -5\r\n\r\n",
                 b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n",
                 b"GET / HTTP/1.1\r\n" + b"X: y\r\n" * 200,  # never finished
                 b"POST /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000000\r\n\r\nab"):
        with socket.create_connection((host, int(port)), timeout=5) as connection:
            connection.sendall(junk)
            connection.shutdown(socket.SHUT_WR)
            try:
                reply = connection.recv(64)
            except socket.timeout:
                pytest.fail(f"no answer to {junk[:20]!r}")
            assert reply == b"" or reply.startswith(b"HTTP/1.") and b" 200 " not in reply
    assert http(panel.url + "api/state")[0] == 200


def test_a_simulated_panel_serves_samples_and_refuses_the_console() -> None:
    server = Panel("--simulate", "--options", "DriverSetup=Model:6512")

    async def scenario() -> None:
        viewer = await Viewer.open(server.ws_url)
        try:
            assert viewer.hello["identity"]["simulated"] is True
            assert viewer.hello["channels"] == ["CH1"]
            assert (await viewer.request("take_control"))["ok"]
            assert (await viewer.request("set", {"channel": "CH1", "voltage": 3.0}))["ok"]
            sample = await viewer.sample()
            assert output(sample, "CH1")["set_v"] == 3.0
            reply = await viewer.request("scpi", {"command": "*IDN?"})
            assert not reply["ok"] and "simulated session has no I/O" in reply["error"]
        finally:
            await viewer.close()
    try:
        run(scenario())
    finally:
        assert server.stop() == 0


def test_the_command_line_tool_starts_the_panel_of_its_own_build() -> None:
    cli = os.environ.get("TARVEK_CLI", "")
    if not cli:
        pytest.skip("TARVEK_CLI names no tarvek program")
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    server = Program([cli, "panel", "--simulate", "--port", "0", "--token", "from-the-cli"],
                     environment)
    try:
        line = server.first_line()
        assert line.startswith("TARVEK panel of a simulated supply at http://127.0.0.1:")
        assert line.endswith("/?token=from-the-cli")
        url = line.split(" at ", 1)[1].split("?", 1)[0]
        assert http(url + "api/state")[0] == 401
        # The page is served at once; the session opens behind it.
        deadline = time.monotonic() + 10.0
        while True:
            status, _, body = http(url + "api/state?token=from-the-cli")
            assert status == 200
            if b'"connected": true' in body or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        assert b'"simulated": true' in body
    finally:
        assert server.stop() == 0
