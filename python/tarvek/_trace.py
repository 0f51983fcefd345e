"""The I/O trace of a session (``session.io_trace``): what the driver sent to
and received from the instrument, byte for byte, as the VISA layer recorded
it.

    with psu.io_trace as trace:
        psu.channels["CH1"].voltage_level = 5.0
    for entry in trace.entries():
        print(entry.direction, entry.call, entry.data)

The trace is off until switched on (``enabled = True`` or a ``with`` block);
the newest 1000 transfers are kept. A simulated session sends nothing, so its
trace stays empty.
"""
from __future__ import annotations

import ctypes
import re
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, List

from ._access import StrictAttributes, _boolean
from ._library import LIB, ViBoolean

if TYPE_CHECKING:
    from ._session import Tarvek

# One line of the VISA layer's trace format (visa.h, viTkReadTrace).
_LINE_RE = re.compile(r'^(\d+\.\d+) 0x([0-9A-Fa-f]{8}) (write|read|event) (\S+) '
                      r'0x([0-9A-Fa-f]{8}) "(.*)"$')
_ESCAPE_RE = re.compile(r'\\(x[0-9A-Fa-f]{2}|.)')
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
# Above the largest text the trace can hold (4 MiB of data, escaped): a
# positive status up to this is the size the text needs.
_LARGEST_SIZE = 1 << 28


def _unescape(match: "re.Match[str]") -> str:
    code = match.group(1)
    if code.startswith("x") and len(code) == 3:
        return chr(int(code[1:], 16))
    if code not in _ESCAPES:
        raise ValueError(f"unknown escape \\{code} in the I/O trace")
    return _ESCAPES[code]


@dataclass(frozen=True)
class IoTraceEntry:
    """One transfer: when it ended (seconds since the epoch), its direction
    ("write", "read", or "event" for a device clear, trigger or status byte
    read, described in ``data``), the bytes, the VISA call that made it
    ("viWrite", "viQueryf", ...) and the status that call returned."""
    time: float
    direction: str
    data: bytes
    call: str
    status: int


def parse_line(line: str) -> IoTraceEntry:
    """The entry of one line of the trace format; ValueError when the line
    is not one."""
    match = _LINE_RE.match(line.rstrip("\n"))
    if match is None:
        raise ValueError(f"not a line of the I/O trace: {line!r}")
    status = int(match.group(5), 16)
    return IoTraceEntry(time=float(match.group(1)), direction=match.group(3),
                        data=_ESCAPE_RE.sub(_unescape, match.group(6)).encode("latin-1"),
                        call=match.group(4),
                        status=status - (1 << 32) if status & 0x80000000 else status)


class IoTrace(StrictAttributes):
    """The I/O trace of one session. ``enabled`` switches it; as a context
    manager it records inside the block and restores the previous state on
    leaving (blocks nest); ``entries()`` gives what it holds, oldest first,
    and ``clear()`` empties it. Safe to use from several threads."""

    __slots__ = ("_session", "_saved")

    def __init__(self, session: "Tarvek") -> None:
        self._session = session
        self._saved: List[bool] = []

    def _check(self, status: int, function: Any) -> None:
        if status:
            self._session._report(status, function)

    @property
    def enabled(self) -> bool:
        """Whether the session records its I/O now."""
        value = ViBoolean()
        with self._session._lock:
            self._check(LIB.TARVEK_QueryIoTraceEnabled(self._session._vi, ctypes.byref(value)),
                        LIB.TARVEK_QueryIoTraceEnabled)
        return bool(value.value)

    @enabled.setter
    def enabled(self, enabled: bool) -> None:
        value = _boolean(enabled, "enabled")
        with self._session._lock:
            self._check(LIB.TARVEK_ConfigureIoTrace(self._session._vi, value),
                        LIB.TARVEK_ConfigureIoTrace)

    def __enter__(self) -> "IoTrace":
        with self._session._lock:
            previous = self.enabled
            self.enabled = True
            self._saved.append(previous)
        return self

    def __exit__(self, *exc_info: Any) -> None:
        with self._session._lock:
            previous = self._saved.pop() if self._saved else False
            if self._session.closed:
                return
            try:
                self.enabled = previous
            except Exception:
                # The block's own exception says more than this one.
                if exc_info[0] is None:
                    raise

    def _text(self) -> str:
        session = self._session
        size = 1 << 16
        while True:
            buffer = ctypes.create_string_buffer(size)
            with session._lock:
                status = LIB.TARVEK_GetIoTrace(session._vi, size, buffer)
                if status < 0:
                    session._report(status, LIB.TARVEK_GetIoTrace)
            if size < status <= _LARGEST_SIZE:
                size = status  # larger than the buffer: read it again whole
                continue
            if status > 0:
                with session._lock:
                    session._report(status, LIB.TARVEK_GetIoTrace)
            return buffer.value.decode("latin-1")

    def entries(self) -> List[IoTraceEntry]:
        """What the trace holds, oldest first (the newest 1000 transfers)."""
        return [parse_line(line) for line in self._text().splitlines() if line]

    def clear(self) -> None:
        """Empties the trace; whether it records stays as it is."""
        with self._session._lock:
            self._check(LIB.TARVEK_ClearIoTrace(self._session._vi), LIB.TARVEK_ClearIoTrace)

    def __repr__(self) -> str:
        return f"<tarvek.IoTrace of {self._session!r}>"


for _public in (IoTrace, IoTraceEntry):
    _public.__module__ = "tarvek"
