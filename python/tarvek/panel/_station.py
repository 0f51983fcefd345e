"""The instrument side of the panel: one worker thread owns the session.

Every call of the driver runs on that thread, so the poller, the commands of
the page, the list runner and the SCPI console never interleave on the wire,
and a call that hangs until its I/O timeout stalls the instrument, not the
web server. The thread hands what it learns to ``publish`` (a callable the
server makes thread-safe) as plain dictionaries."""
from __future__ import annotations

import collections
import datetime
import math
import queue
import threading
import time
from dataclasses import dataclass, field
from typing import Any, Callable, Deque, Dict, List, Optional, Tuple

import tarvek
from tarvek import ListPace, ListTerminateState, OutputState, SpecificTriggerSource

Message = Dict[str, Any]
Publish = Callable[[Message], None]
Reply = Callable[[Message], None]

# A VISA failure (0xBFFF....): timeout, lost connection, resource gone. The
# session is dropped and opened again; a stale reply can never be read as
# the answer to a later query.
_VISA_ERROR_BASE = 0xBFFF0000
_RECENT_ERRORS = 200
_HISTORY_SECONDS = 600.0
_HELLO_SAMPLES = 2000
_TRACE_BATCH = 400
_MAX_LIST_STEPS = 100
_COMMAND_QUEUE = 64

TRACE_MODES = ("off", "commands", "all")


def is_io_failure(error: BaseException) -> bool:
    """Whether a driver error means the instrument is unreachable (a VISA
    status) rather than a refused value or command."""
    code = getattr(error, "code", None)
    return isinstance(code, int) and (code & 0xFFFF0000) == _VISA_ERROR_BASE


def escape_bytes(data: bytes) -> str:
    """Bytes as readable text: printable ASCII as it is, the rest escaped."""
    out = []
    for byte in data:
        if byte == 0x5C:
            out.append("\\\\")
        elif 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        elif byte == 0x0A:
            out.append("\\n")
        elif byte == 0x0D:
            out.append("\\r")
        else:
            out.append(f"\\x{byte:02x}")
    return "".join(out)


def _number(value: Any, name: str, low: float, high: float) -> float:
    """A finite number in [low, high] from untrusted input."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{name} takes a number")
    number = float(value)
    if not math.isfinite(number) or not low <= number <= high:
        raise ValueError(f"{name} must be between {low:g} and {high:g}")
    return number


@dataclass
class ListRun:
    """A list programmed into the instrument and started; the instrument
    runs it on its own clock, the worker follows it by time."""
    channel: str
    steps: List[Dict[str, float]]
    repeat: int
    started: float = 0.0
    state: str = "running"  # running, finished, aborted, failed
    step: int = 0
    passes: int = 1
    message: str = ""
    output_was_on: bool = False

    def describe(self) -> Message:
        return {"type": "list", "state": self.state, "channel": self.channel,
                "step": self.step, "steps": len(self.steps), "pass": self.passes,
                "repeat": self.repeat, "message": self.message,
                "elapsed": max(0.0, time.time() - self.started) if self.started else 0.0,
                "total": sum(step["dwell"] for step in self.steps) * max(self.repeat, 1)}


@dataclass
class _Command:
    op: str
    args: Message
    reply: Optional[Reply]
    submitted: float = field(default_factory=time.monotonic)


class Station:
    """The instrument behind the panel: its session, the poller, the list
    runner, the measurement log and what the page needs to start from."""

    def __init__(self, resource: str, options: Any = None, rate_hz: float = 20.0,
                 io_timeout_ms: int = 1000, log_rows: int = 100_000,
                 publish: Optional[Publish] = None,
                 opener: Callable[..., Any] = tarvek.Tarvek) -> None:
        self.resource = resource
        self.options = options
        self.period = 1.0 / rate_hz
        self.io_timeout_ms = io_timeout_ms
        self.publish: Publish = publish or (lambda message: None)
        self._opener = opener
        self._commands: "queue.Queue[_Command]" = queue.Queue(_COMMAND_QUEUE)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="tarvek-panel-station",
                                        daemon=True)
        # Shared with the server's thread: replaced whole, never mutated in place.
        self._guard = threading.Lock()
        self.psu: Any = None
        self.identity: Message = {"resource": resource}
        self.channels: List[str] = []
        self.connected = False
        self.status_text = "opening the session"
        self.latest: Optional[Message] = None
        self.list_run: Optional[ListRun] = None
        self.trace_mode = "off"
        self._trace: Any = None  # the session's io_trace, where the package has one
        self._errors: Deque[Message] = collections.deque(maxlen=_RECENT_ERRORS)
        self._history: Deque[Message] = collections.deque(
            maxlen=max(1, int(_HISTORY_SECONDS * rate_hz)))
        self._log: Deque[str] = collections.deque(maxlen=log_rows)
        self._setpoints: Dict[str, Message] = {}
        self._tripped: Dict[str, Dict[str, bool]] = {}
        self._polls = 0
        self._poll_error = ""
        self._next_open = 0.0

    # -- Life -----------------------------------------------------------------

    def start(self) -> None:
        self._thread.start()

    def stop(self, timeout: float = 5.0) -> None:
        self._stop.set()
        self._thread.join(timeout)
        self._close_session()

    def submit(self, op: str, args: Message, reply: Optional[Reply] = None) -> bool:
        """Queues a command for the worker; False when the queue is full (a
        client flooding it), so that nobody waits unboundedly."""
        try:
            self._commands.put_nowait(_Command(op, args, reply))
            return True
        except queue.Full:
            return False

    # -- What a new page starts from -------------------------------------------

    def hello(self) -> Message:
        with self._guard:
            return {"identity": dict(self.identity), "channels": list(self.channels),
                    "connected": self.connected, "status": self.status_text,
                    "errors": list(self._errors), "history": self._thinned_history(),
                    "list": self.list_run.describe() if self.list_run else None,
                    "trace": self.trace_info(), "rate": 1.0 / self.period}

    def _thinned_history(self) -> List[Message]:
        """The history kept, every n-th sample of it, so that a new page
        starts with at most _HELLO_SAMPLES of them (the latest always in)."""
        samples = list(self._history)
        step = -(-len(samples) // _HELLO_SAMPLES)
        return samples[::-1][::max(step, 1)][::-1]

    def trace_info(self) -> Message:
        return {"type": "trace_mode", "available": self._trace is not None,
                "mode": self.trace_mode}

    def csv_text(self) -> str:
        """The measurement log: identity and export time as comment lines,
        then one row per poll with every output's setpoints and readings."""
        with self._guard:
            identity = dict(self.identity)
            channels = list(self.channels)
            rows = list(self._log)
        lines = [f"# {key}: {value}" for key, value in identity.items()]
        lines.append(f"# exported: {_iso(time.time())}")
        header = ["time_utc", "time_s"]
        for name in channels:
            header += [f"{name}_set_V", f"{name}_set_A", f"{name}_output", f"{name}_state",
                       f"{name}_V", f"{name}_A", f"{name}_W"]
        lines.append(",".join(header))
        lines.extend(rows)
        return "\n".join(lines) + "\n"

    # -- The worker -------------------------------------------------------------

    def _run(self) -> None:
        while not self._stop.is_set():
            try:
                self._work()
            except Exception as error:  # noqa: BLE001 - the worker must outlive any failure
                self._lost(error)

    def _work(self) -> None:
        next_poll = time.monotonic()
        while not self._stop.is_set():
            if self.psu is None:
                if time.monotonic() >= self._next_open:
                    self._open()
                    next_poll = time.monotonic()
                if self.psu is None:
                    self._serve_commands(until=min(self._next_open, time.monotonic() + 0.1))
                    continue
            now = time.monotonic()
            if now >= next_poll:
                self._poll()
                next_poll = max(next_poll + self.period, time.monotonic())
                continue
            if self._serve_commands(until=next_poll):
                next_poll = time.monotonic()  # the page wants to see the effect at once

    def _serve_commands(self, until: float) -> bool:
        """Runs commands as they come until the given time; True as soon as
        one has run on an open session."""
        while not self._stop.is_set():
            remaining = until - time.monotonic()
            if remaining <= 0:
                return False
            try:
                command = self._commands.get(timeout=min(remaining, 0.2))
            except queue.Empty:
                continue
            self._execute(command)
            if self.psu is not None:
                return True
        return False

    def _open(self) -> None:
        try:
            psu = self._opener(self.resource, id_query=True, reset=False,
                               options=self.options)
        except Exception as error:  # noqa: BLE001 - reported to the page, retried
            self._set_status(False, f"cannot open {self.resource or 'the session'}: {error}")
            self._next_open = time.monotonic() + 1.0
            return
        try:
            psu.query_instrument_status = False
            psu.cache = False
            if not psu.simulate:
                psu.ivi_direct_io.io_timeout_ms = self.io_timeout_ms
            identity = {
                "resource": self.resource, "manufacturer": psu.instrument_manufacturer,
                "model": psu.instrument_model, "firmware": psu.instrument_firmware_revision,
                "driver_revision": psu.specific_driver_revision,
                "simulated": bool(psu.simulate)}
            channels = psu.channels.names
            trace = _usable_trace(psu)
        except Exception as error:  # noqa: BLE001
            _close_quietly(psu)
            self._set_status(False, f"the instrument does not answer: {error}")
            self._next_open = time.monotonic() + 1.0
            return
        self._tripped = {}
        # One step for a page that arrives meanwhile: connected with the
        # identity in its hello, or not yet and these messages follow it.
        with self._guard:
            self.psu = psu
            self._trace = trace
            self.identity = identity
            self.channels = channels
            self.connected = True
            self.status_text = "connected"
        self.publish({"type": "identity", "identity": identity, "channels": channels})
        self.publish(self.trace_info())
        self.publish({"type": "status", "connected": True, "status": "connected"})
        self._read_setpoints()

    def _close_session(self) -> None:
        with self._guard:
            psu, self.psu = self.psu, None
            self._trace = None
        if psu is not None:
            _close_quietly(psu)

    def _set_status(self, connected: bool, text: str) -> None:
        changed = (connected, text) != (self.connected, self.status_text)
        with self._guard:
            self.connected = connected
            self.status_text = text
        if changed:
            self.publish({"type": "status", "connected": connected, "status": text})

    def _lost(self, error: BaseException) -> None:
        """The instrument stopped answering: drop the session, tell the page,
        and open it again from the worker loop once a second."""
        self._close_session()
        self._set_status(False, f"the instrument does not answer: {error}")
        self._next_open = time.monotonic() + 1.0
        if self.list_run is not None and self.list_run.state == "running":
            self.list_run.state = "failed"
            self.list_run.message = "the instrument stopped answering"
            self.publish(self.list_run.describe())

    def _report_error(self, source: str, code: int, message: str) -> None:
        entry = {"type": "error", "time": time.time(), "source": source, "code": code,
                 "message": message}
        with self._guard:
            self._errors.append(entry)
        self.publish(entry)

    # -- Polling -------------------------------------------------------------

    def _poll(self) -> None:
        psu = self.psu
        try:
            with self._tracing(self.trace_mode == "all"):
                sample = self._measure(psu)
                self._polls += 1
                if self._polls % 5 == 0:
                    self._read_setpoints()
                if self._polls % 4 == 0:
                    self._read_instrument_errors()
                self._follow_list()
        except Exception as error:  # noqa: BLE001
            if is_io_failure(error) or not isinstance(error, tarvek.Error):
                self._lost(error)
            elif str(error) != self._poll_error:
                self._report_error("panel", getattr(error, "code", 0), f"polling: {error}")
            self._poll_error = str(error)  # reported once, not at every poll
            return
        self._poll_error = ""
        self._set_status(True, "connected")
        self._publish_trace()
        with self._guard:
            self.latest = sample
            self._history.append(sample)
            self._log.append(self._log_row(sample))
        self.publish(sample)

    def _measure(self, psu: Any) -> Message:
        now = time.time()
        outputs = []
        for name in self.channels:
            channel = psu.channels[name]
            voltage = channel.voltage
            current = channel.current
            output = bool(channel.output_enabled)
            ocp = bool(channel.ocp_tripped)
            ovp = bool(channel.ovp_tripped)
            if ovp:
                state = "OVP"
            elif ocp:
                state = "OCP"
            elif not output:
                state = "OFF"
            elif channel.query_output_state(OutputState.UNREGULATED):
                state = "UR"
            elif channel.query_output_state(OutputState.CONSTANT_CURRENT):
                state = "CC"
            else:
                state = "CV"
            self._note_trips(name, ocp, ovp)
            setpoints = self._setpoints.get(name, {})
            outputs.append({"name": name, "v": _finite(voltage), "i": _finite(current),
                            "p": _finite(voltage * current),
                            "output": output, "state": state, "ocp_tripped": ocp,
                            "ovp_tripped": ovp, **setpoints})
        return {"type": "sample", "t": now, "outputs": outputs}

    def _note_trips(self, name: str, ocp: bool, ovp: bool) -> None:
        """A trip is an event of the instrument the page lists with its errors."""
        before = self._tripped.get(name, {"ocp": False, "ovp": False})
        for key, now, text in (("ocp", ocp, "over-current"), ("ovp", ovp, "over-voltage")):
            if now and not before[key]:
                self._report_error("protection", 0, f"{name}: {text} protection tripped, "
                                   "output off")
        self._tripped[name] = {"ocp": ocp, "ovp": ovp}

    def _read_setpoints(self) -> None:
        psu = self.psu
        if psu is None:
            return
        values: Dict[str, Message] = {}
        for index, name in enumerate(self.channels):
            channel = psu.channels[name]
            with psu.locked():
                if len(self.channels) > 1:
                    psu.selected_channel = index
                ocp_level = psu.current_protection_level
                ocp_on = bool(psu.ocp_enabled)
            values[name] = {"set_v": channel.voltage_level, "set_i": channel.current_limit,
                            "ovp_level": channel.ovp_limit, "ocp_level": ocp_level,
                            "ocp_enabled": ocp_on}
        self._setpoints = values

    def _read_instrument_errors(self) -> None:
        for _ in range(20):
            error = self.psu.ivi_utility.error_query()
            if error is None:
                return
            self._report_error("instrument", error.code, error.message)

    def _log_row(self, sample: Message) -> str:
        cells = [_iso(sample["t"]), f"{sample['t']:.3f}"]
        for output in sample["outputs"]:
            cells += [_real(output.get("set_v")), _real(output.get("set_i")),
                      "1" if output["output"] else "0", output["state"],
                      _real(output["v"]), _real(output["i"]), _real(output["p"])]
        return ",".join(cells)

    # -- I/O trace -----------------------------------------------------------

    def _tracing(self, enabled: bool) -> "_TraceScope":
        return _TraceScope(self._trace, enabled)

    def _publish_trace(self) -> None:
        trace = self._trace
        if trace is None or self.trace_mode == "off":
            return
        entries = trace.entries()
        if not entries:
            return
        trace.clear()
        rows = [{"t": entry.time, "dir": entry.direction, "data": escape_bytes(entry.data),
                 "call": entry.call, "status": entry.status}
                for entry in entries[-_TRACE_BATCH:]]
        self.publish({"type": "trace", "entries": rows, "dropped": len(entries) - len(rows)})

    # -- Commands ----------------------------------------------------------------

    def _execute(self, command: _Command) -> None:
        handler = _HANDLERS.get(command.op)
        result: Message
        if handler is None:
            result = {"ok": False, "error": f"unknown operation {command.op!r}"}
        elif self.psu is None and command.op not in ("trace", "list_abort"):
            result = {"ok": False, "error": f"not connected: {self.status_text}"}
        else:
            try:
                with self._tracing(self.trace_mode != "off"):
                    value = handler(self, command.args)
                result = {"ok": True}
                if value is not None:
                    result["value"] = value
                if self.psu is not None and command.op not in ("trace",):
                    refused = self._take_instrument_errors()
                    if refused:
                        result = {"ok": False, "error": "the instrument refused it: " +
                                  "; ".join(f"{code}, \"{text}\"" for code, text in refused)}
            except (ValueError, TypeError, KeyError) as error:
                text = error.args[0] if isinstance(error, KeyError) and error.args else error
                result = {"ok": False, "error": str(text)}
            except Exception as error:  # noqa: BLE001 - reported to the page
                result = {"ok": False, "error": str(error)}
                if is_io_failure(error) or not isinstance(error, tarvek.Error):
                    self._lost(error)
            self._publish_trace()
        if command.reply is not None:
            command.reply(result)

    def _take_instrument_errors(self) -> List[Tuple[int, str]]:
        refused: List[Tuple[int, str]] = []
        for _ in range(20):
            error = self.psu.ivi_utility.error_query()
            if error is None:
                break
            refused.append((error.code, error.message))
            self._report_error("instrument", error.code, error.message)
        return refused

    def _channel(self, args: Message) -> str:
        name = args.get("channel")
        if not isinstance(name, str) or name not in self.channels:
            raise ValueError(f"channel must be one of {', '.join(self.channels)}")
        return name

    def _do_set(self, args: Message) -> None:
        """Levels, protection and output of one channel; each given key is
        written, in the order that never switches on an output with stale
        levels."""
        name = self._channel(args)
        psu = self.psu
        channel = psu.channels[name]
        known = {"channel", "voltage", "current", "ovp_level", "ocp_level", "ocp_enabled",
                 "output"}
        unknown = set(args) - known
        if unknown:
            raise ValueError(f"unknown setting {sorted(unknown)[0]!r}")
        if "ovp_level" in args:
            channel.ovp_limit = _number(args["ovp_level"], "ovp_level", 0, 1000)
        if "voltage" in args:
            channel.voltage_level = _number(args["voltage"], "voltage", 0, 1000)
        if "current" in args:
            channel.current_limit = _number(args["current"], "current", 0, 1000)
        if "ocp_level" in args or "ocp_enabled" in args:
            with psu.locked():
                if len(self.channels) > 1:
                    psu.selected_channel = self.channels.index(name)
                if "ocp_level" in args:
                    psu.current_protection_level = _number(args["ocp_level"], "ocp_level", 0,
                                                           1000)
                if "ocp_enabled" in args:
                    psu.ocp_enabled = _flag(args["ocp_enabled"], "ocp_enabled")
        if "output" in args:
            channel.output_enabled = _flag(args["output"], "output")
        self._read_setpoints()

    def _do_clear_protection(self, args: Message) -> None:
        self.psu.channels[self._channel(args)].clear_protection()

    def _do_scpi(self, args: Message) -> Optional[str]:
        text = args.get("command")
        if not isinstance(text, str) or not text.strip() or len(text) > 512:
            raise ValueError("command takes a SCPI message of 1 to 512 characters")
        if self.psu.simulate:
            raise ValueError("the SCPI console needs an instrument; a simulated session "
                             "has no I/O")
        text = text.strip()
        for character in text:
            if ord(character) < 0x20 or ord(character) == 0x7F:
                raise ValueError(f"command holds a control character (0x{ord(character):02X}); "
                                 "the console sends one line at a time")
        try:
            if "?" in text:
                return str(self.psu.query(text)).rstrip("\r\n")
            self.psu.write(text + "\n")
            return None
        finally:
            # The command may have changed what the driver remembers.
            self.psu.invalidate_all_attributes()

    def _do_trace(self, args: Message) -> None:
        mode = args.get("mode")
        if mode not in TRACE_MODES:
            raise ValueError(f"mode is one of {', '.join(TRACE_MODES)}")
        self.trace_mode = mode
        trace = self._trace
        if trace is not None:
            trace.clear()
        self.publish(self.trace_info())

    def _do_list_run(self, args: Message) -> None:
        if self.list_run is not None and self.list_run.state == "running":
            raise ValueError(f"a list is running on {self.list_run.channel}; abort it first")
        name = self._channel(args)
        steps = args.get("steps")
        if not isinstance(steps, list) or not 1 <= len(steps) <= _MAX_LIST_STEPS:
            raise ValueError(f"steps takes a list of 1 to {_MAX_LIST_STEPS} steps")
        parsed = []
        for number, step in enumerate(steps, 1):
            if not isinstance(step, dict):
                raise ValueError(f"step {number} takes voltage, current and dwell")
            parsed.append({"voltage": _number(step.get("voltage"), f"step {number} voltage",
                                              0, 1000),
                           "current": _number(step.get("current"), f"step {number} current",
                                              0, 1000),
                           "dwell": _number(step.get("dwell"), f"step {number} dwell",
                                            0.001, 86400)})
        repeat = args.get("repeat", 1)
        if isinstance(repeat, bool) or not isinstance(repeat, int) or not 1 <= repeat <= 65535:
            raise ValueError("repeat takes a whole number from 1 to 65535")
        psu = self.psu
        index = self.channels.index(name)
        run = ListRun(name, parsed, repeat)
        with psu.locked():
            if len(self.channels) > 1:
                psu.selected_channel = index
            psu.selected_list = 1
            for number, step in enumerate(parsed, 1):
                psu.selected_step = number
                psu.step_voltage = step["voltage"]
                psu.step_current = step["current"]
                psu.list_dwell = step["dwell"]
            psu.list_pace = ListPace.DWELL
            psu.list_repeat_count = repeat
            psu.list_terminate_state = ListTerminateState.STATEDC
            psu.next_list = 0
            psu.list_trigger_source = SpecificTriggerSource.IMMEDIATE
            psu.save_list_data()
            refused = self._take_instrument_errors()
            if refused:
                raise ValueError("the instrument refused the list: " +
                                 "; ".join(f"{code}, \"{text}\"" for code, text in refused))
            run.output_was_on = bool(psu.channels[name].output_enabled)
            psu.enable_list(1)
            psu.channels[name].output_enabled = True
            psu.start_list(index)
        run.started = time.time()
        run.step = 1
        self.list_run = run
        self.publish(run.describe())

    def _do_list_abort(self, args: Message) -> None:
        run = self.list_run
        if run is None or run.state != "running":
            raise ValueError("no list is running")
        run.state = "aborted"
        run.message = "aborted from the panel"
        if self.psu is not None:
            self._end_list(run, switch_off=True)
        self.publish(run.describe())

    def _end_list(self, run: ListRun, switch_off: bool) -> None:
        psu = self.psu
        index = self.channels.index(run.channel)
        try:
            psu.abort_list(index)
        finally:
            psu.disable_list()
            if switch_off or not run.output_was_on:
                psu.channels[run.channel].output_enabled = False

    def _follow_list(self) -> None:
        """The list's progress by time, as the instrument runs it; at its end
        the output goes back to fixed levels."""
        run = self.list_run
        if run is None or run.state != "running":
            return
        elapsed = time.time() - run.started
        period = sum(step["dwell"] for step in run.steps)
        total = period * run.repeat
        if elapsed >= total:
            run.state = "finished"
            run.step = len(run.steps)
            run.passes = run.repeat
            run.message = "finished; the output is back at its fixed levels"
            self._end_list(run, switch_off=False)
            self.publish(run.describe())
            return
        run.passes = int(elapsed // period) + 1
        within = elapsed - (run.passes - 1) * period
        step = 1
        for step_info in run.steps:
            if within < step_info["dwell"]:
                break
            within -= step_info["dwell"]
            step += 1
        changed = step != run.step
        run.step = min(step, len(run.steps))
        if changed or self._polls % 5 == 0:
            self.publish(run.describe())


_HANDLERS: Dict[str, Callable[[Station, Message], Any]] = {
    "set": Station._do_set,
    "clear_protection": Station._do_clear_protection,
    "scpi": Station._do_scpi,
    "trace": Station._do_trace,
    "list_run": Station._do_list_run,
    "list_abort": Station._do_list_abort,
}

# Operations that change the instrument: only the client holding control may
# ask for them. The trace mode is a view setting, open to every viewer.
CONTROL_OPERATIONS = frozenset({"set", "clear_protection", "scpi", "list_run", "list_abort"})
OPERATIONS = frozenset(_HANDLERS)


class _TraceScope:
    """Switches the session's I/O trace on for a block (when the package
    has one), so that the trace holds only the exchanges the page asked to
    see."""

    def __init__(self, trace: Any, enabled: bool) -> None:
        self._trace = trace if enabled else None

    def __enter__(self) -> None:
        if self._trace is not None:
            self._trace.enabled = True

    def __exit__(self, *exc_info: Any) -> None:
        if self._trace is not None:
            self._trace.enabled = False


def _usable_trace(psu: Any) -> Any:
    """The session's I/O trace, off and empty; None where the package has
    none or it cannot be switched (the pane then says it is unavailable)."""
    try:
        trace = getattr(psu, "io_trace", None)
        if trace is not None:
            trace.enabled = False
            trace.clear()
        return trace
    except Exception:  # noqa: BLE001
        return None


def _flag(value: Any, name: str) -> bool:
    if not isinstance(value, bool):
        raise ValueError(f"{name} takes true or false")
    return value


def _finite(value: float) -> Optional[float]:
    """A reading as JSON can carry it: NaN and infinities become null."""
    return value if math.isfinite(value) else None


def _real(value: Any) -> str:
    return "" if value is None else f"{value:.6g}"


def _iso(seconds: float) -> str:
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).isoformat(
        timespec="milliseconds").replace("+00:00", "Z")


def _close_quietly(psu: Any) -> None:
    try:
        psu.close()
    except Exception:  # noqa: BLE001 - the connection is already gone
        pass
