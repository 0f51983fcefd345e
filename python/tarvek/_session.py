"""Sessions and output channels: the hand-written part of the package, on
which the generated attribute and function layer (_generated.py) stands."""
from __future__ import annotations

import ctypes
import os
import sys
import threading
import warnings
from types import FrameType
from typing import (Any, Iterator, List, Mapping, Optional, Sequence, Tuple, Union,
                    overload)

from ._access import _Access, _boolean, _integer, _text
from ._errors import DriverWarning, Error, error_for
from ._generated import (ChannelAttributes, ChannelFunctions, ChannelGroupAttributes,
                         ChannelGroupFunctions, SessionAttributes, SessionFunctions)
from ._library import LIB, ViInt32, ViInt64, ViSession, ViStatus

# VISA completion codes of a raw read: not warnings, they say how it ended.
VI_SUCCESS_TERM_CHAR = 0x3FFF0005
VI_SUCCESS_MAX_CNT = 0x3FFF0006
_INVALID_SESSION = -1074130544  # 0xBFFA1190
_INSTRUMENT_STATUS = -1074135039  # 0xBFFA0001: the status check found an error bit
_ERROR_QUEUE_DEPTH = 20

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

# Option-string names by their Python spelling folded to lower case without
# underscores.
_OPTION_NAMES = {
    "cache": "Cache",
    "interchangecheck": "InterchangeCheck",
    "queryinstrstatus": "QueryInstrStatus",
    "queryinstrumentstatus": "QueryInstrStatus",
    "rangecheck": "RangeCheck",
    "recordcoercions": "RecordCoercions",
    "simulate": "Simulate",
}

Options = Union[None, str, Mapping[str, Any]]


def option_string(options: Options) -> str:
    """The driver's option string for ``options``: a string is taken as it
    is; a mapping gives "Name=1" pairs and, last, "DriverSetup=..." (from a
    string, or from a mapping as "Key:value" pairs)."""
    if options is None:
        return ""
    if isinstance(options, str):
        return options
    if not isinstance(options, Mapping):
        raise TypeError(f"options takes None, an option string or a mapping of option names "
                        f"to booleans, not {options!r} ({type(options).__name__})")
    pairs: List[str] = []
    setup: Any = None
    for key, value in options.items():
        if not isinstance(key, str):
            raise TypeError(f"option names are str, not {key!r} ({type(key).__name__})")
        folded = key.replace("_", "").lower()
        if folded == "driversetup":
            setup = value
            continue
        name = _OPTION_NAMES.get(folded)
        if name is None:
            raise ValueError(f"unknown option {key!r}; the options are "
                             f"{', '.join(sorted(set(_OPTION_NAMES.values())))} and DriverSetup")
        if isinstance(value, str) and value.lower() in ("true", "false", "1", "0", "vi_true",
                                                        "vi_false"):
            text = value
        elif isinstance(value, str):
            raise ValueError(f"option {key!r} takes a boolean, not {value!r}")
        else:
            text = "1" if _boolean(value, f"option {key!r}") else "0"
        pairs.append(f"{name}={text}")
    if setup is not None:
        if isinstance(setup, Mapping):
            for key, value in setup.items():
                if "," in f"{key}{value}":
                    raise ValueError(f"DriverSetup {key!r}: a comma ends a DriverSetup value")
            setup = ",".join(f"{key}:{value}" for key, value in setup.items())
        pairs.append(f"DriverSetup={setup}")
    return ",".join(pairs)


def _outside_level() -> int:
    """The stack level of the first caller outside this package, for warnings."""
    level = 1
    frame: Optional[FrameType] = sys._getframe(1)
    while frame is not None and os.path.dirname(frame.f_code.co_filename) == _PACKAGE_DIR:
        frame = frame.f_back
        level += 1
    return level


def _describe(vi: int, status: int) -> str:
    """The driver's text for a status just returned on session vi: the
    session's error record when it holds this status, else the message of the
    status table. Reading the record clears it."""
    code = ViStatus()
    text = ctypes.create_string_buffer(2048)
    if LIB.TARVEK_GetError(vi, ctypes.byref(code), len(text), text) >= 0 and \
            code.value == status and text.value:
        LIB.TARVEK_ClearError(vi)
        return text.value.decode(errors="replace")
    message = ctypes.create_string_buffer(256)
    if LIB.TARVEK_error_message(0, status, message) == 0 and message.value:
        return message.value.decode(errors="replace")
    return "The driver has no text for this status."


def _name_of(function: Any) -> str:
    return getattr(function, "__name__", "")


class OutputChannel(ChannelAttributes, ChannelFunctions, _Access):
    """One output channel, as ``session.channels["CH1"]`` (or by position,
    ``session.channels[0]``, or by a virtual name) gives it: its attributes
    are properties, its functions methods."""

    __slots__ = ("_session", "_selector", "_parts", "name")

    def __init__(self, session: "Session", name: str, parts: Sequence[str]) -> None:
        self._session = session
        self.name = name
        self._selector = _text(name)
        self._parts = tuple(_text(part) for part in parts)

    @property
    def names(self) -> List[str]:
        """The single-channel selectors this object stands for."""
        return [part.decode() for part in self._parts]

    def __repr__(self) -> str:
        return f"<tarvek.{type(self).__name__} {self.name!r} of {self._session!r}>"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, OutputChannel) and other._session is self._session and \
            other._parts == self._parts

    def __hash__(self) -> int:
        return hash((id(self._session), self._parts))


class ChannelGroup(ChannelGroupAttributes, ChannelGroupFunctions, OutputChannel):
    """Several output channels named by one selector ("CH1-CH3", "CH1,CH3"),
    as ``session.channels["CH1-CH3"]`` or ``session.channels.group(...)``
    gives them. A write, and a function without a result, goes to every
    channel named in one call of the driver; a read, and a function with a
    result, returns a list with one value per channel, in selector order."""

    __slots__ = ()
    _several = True


class Channels(Sequence[OutputChannel]):
    """The instrument's output channels: iterate over them, index them by
    position (0 is CH1) or by a selector (``channels['CH2']``,
    ``channels['CH1-CH3']``, ``channels['CH1,CH3']``, a virtual name)."""

    def __init__(self, session: "Session", names: Sequence[str]) -> None:
        self._session = session
        self._names = list(names)

    @property
    def names(self) -> List[str]:
        """The physical channel names, "CH1" first."""
        return list(self._names)

    def __len__(self) -> int:
        return len(self._names)

    def __iter__(self) -> Iterator[OutputChannel]:
        return iter([OutputChannel(self._session, name, [name]) for name in self._names])

    def __contains__(self, item: object) -> bool:
        if isinstance(item, OutputChannel):
            return item._session is self._session and all(
                part.decode().upper() in self._names for part in item._parts)
        return isinstance(item, str) and item.upper() in self._names

    @overload
    def __getitem__(self, key: int) -> OutputChannel: ...

    @overload
    def __getitem__(self, key: str) -> OutputChannel: ...

    @overload
    def __getitem__(self, key: slice) -> List[OutputChannel]: ...

    def __getitem__(self, key: Union[int, str, slice]) -> Any:
        """A channel by position or selector; a selector naming several
        channels gives a ChannelGroup (an OutputChannel whose reads return
        lists; ``group()`` says so to a type checker)."""
        if isinstance(key, slice):
            return [OutputChannel(self._session, name, [name]) for name in self._names[key]]
        if isinstance(key, int):
            name = self._names[key]
            return OutputChannel(self._session, name, [name])
        if not isinstance(key, str):
            raise TypeError(f"channels are indexed by position or selector, not {key!r}")
        parts = self._expand(key)
        if len(parts) > 1:
            return ChannelGroup(self._session, key, parts)
        return OutputChannel(self._session, key, parts)

    def group(self, selector: str) -> ChannelGroup:
        """The channels a selector names, as a ChannelGroup even when it
        names one."""
        return ChannelGroup(self._session, selector, self._expand(selector))

    def _expand(self, selector: str) -> List[str]:
        """The single-channel selectors of a selector: the items of a comma
        list, ranges of physical names expanded. Other names (virtual ones)
        are kept for the driver to resolve; the driver checks every name."""
        text = selector.strip()
        if text.startswith("[") and text.endswith("]"):
            text = text[1:-1]
        parts: List[str] = []
        upper = [name.upper() for name in self._names]
        for item in (piece.strip() for piece in text.split(",")):
            if "-" in item or ":" in item:
                first, _, last = item.replace(":", "-").partition("-")
                first, last = first.strip().upper(), last.strip().upper()
                if first in upper and last in upper and upper.index(first) <= upper.index(last):
                    parts += self._names[upper.index(first):upper.index(last) + 1]
                    continue
            parts.append(item)
        return parts

    def __repr__(self) -> str:
        return f"<tarvek.Channels {self._names}>"


class Session(SessionAttributes, SessionFunctions, _Access):
    """A session with a TARVEK power supply.

    ``Session(resource_name, id_query=True, reset=False, options=None)``
    opens a VISA resource ("TCPIP::192.168.1.20::5025::SOCKET") or a logical
    name of the IVI configuration store. ``options`` is the driver's option
    string or a dict such as ``{'simulate': True, 'range_check': False,
    'driver_setup': 'Model:6510'}``. Use it as a context manager, or call
    :meth:`close`.

    Attributes of the instrument are properties of the session; those of an
    output channel are properties of ``session.channels['CH1']``. Every
    instrument function is a method. A failure raises :class:`tarvek.Error`
    with the driver's explanation; a warning is issued as
    :class:`tarvek.DriverWarning`. A session may be shared between threads.
    """

    def __init__(self, resource_name: str, id_query: bool = True, reset: bool = False,
                 options: Options = None) -> None:
        self._lock = threading.RLock()
        self._vi = 0
        self._session = self
        self._selector = b""
        self._parts = (b"",)
        self._channels: Optional[Channels] = None
        self.resource_name = resource_name
        handle = ViSession(0)
        status = LIB.TARVEK_InitWithOptions(_text(resource_name, "resource_name"),
                                            _boolean(id_query, "id_query"),
                                            _boolean(reset, "reset"),
                                            _text(option_string(options), "options"),
                                            ctypes.byref(handle))
        if status < 0:
            # A failed reset leaves the session open: explain, then close it.
            description = _describe(handle.value, status)
            if handle.value:
                LIB.TARVEK_close(handle.value)
            raise error_for(status, description, "TARVEK_InitWithOptions")
        self._vi = handle.value
        if status > 0:
            self._report(status, LIB.TARVEK_InitWithOptions)

    # -- Lifetime ----------------------------------------------------------

    @property
    def handle(self) -> int:
        """The driver's ViSession handle, for calling the C API directly; 0
        once closed."""
        return self._vi

    @property
    def closed(self) -> bool:
        """Whether the session has been closed."""
        return self._vi == 0

    def close(self) -> None:
        """Closes the session; closing a closed session does nothing."""
        with self._lock:
            vi, self._vi = self._vi, 0
            if vi:
                status = LIB.TARVEK_close(vi)
                if status < 0:
                    raise error_for(status, _describe(0, status), "TARVEK_close")

    def __enter__(self) -> "Session":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if self._vi:
                LIB.TARVEK_close(self._vi)
                self._vi = 0
        except Exception:  # noqa: BLE001 - interpreter shutdown
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"handle {self._vi}"
        return f"<tarvek.Session {self.resource_name!r}, {state}>"

    # -- Channels ----------------------------------------------------------

    @property
    def channels(self) -> Channels:
        """The output channels of the instrument ("CH1" to "CH3" on a
        Series6310, "CH1" on a Series6510)."""
        if self._channels is None:
            names = [self.get_channel_name(index) for index in range(1, self.channel_count + 1)]
            self._channels = Channels(self, names)
        return self._channels

    # -- Direct I/O --------------------------------------------------------

    def write(self, text: Union[str, bytes]) -> int:
        """Sends text to the instrument unchanged (add the line feed
        yourself); returns the number of bytes written. Not in simulation."""
        if isinstance(text, str):
            data = text.encode()
        elif isinstance(text, (bytes, bytearray, memoryview)):
            data = bytes(text)
        else:
            # bytes(5) would be five NULs.
            raise TypeError(f"text takes a str or bytes, not {text!r} ({type(text).__name__})")
        count = ViInt64(0)
        self._call(LIB.TARVEK_viWrite, len(data), data, ctypes.byref(count))
        return count.value

    def read(self, size: int = 65536) -> str:
        """Reads one response of the instrument (at most size bytes of it;
        the rest of that response is discarded). Not in simulation."""
        size = _integer(size, "size", 64)
        if not 1 <= size <= 0xFFFFFFFF:
            raise ValueError(f"size takes an int from 1 to 4294967295, not {size}")
        buffer = ctypes.create_string_buffer(size)
        count = ViInt64(0)
        with self._lock:
            status = LIB.TARVEK_viRead(self._vi, size, buffer, ctypes.byref(count))
            if status and status not in (VI_SUCCESS_TERM_CHAR, VI_SUCCESS_MAX_CNT):
                self._report(status, LIB.TARVEK_viRead)
        return buffer.raw[:count.value].decode(errors="replace")

    def query(self, text: str, size: int = 65536) -> str:
        """Writes text (a line feed is added when missing) and reads the
        response, without the final line feed, under one hold of the lock."""
        with self._lock:
            self.write(text if text.endswith("\n") else text + "\n")
            return self.read(size).rstrip("\n")

    # -- Locking and errors ------------------------------------------------

    def locked(self) -> "_SessionLock":
        """A context manager holding the driver's session lock across several
        calls (TARVEK_LockSession / TARVEK_UnlockSession), so that no other
        thread's call comes in between."""
        return _SessionLock(self)

    def error_message(self, code: int) -> str:
        """The driver's message for a status code (TARVEK_error_message)."""
        message = ctypes.create_string_buffer(256)
        self._call(LIB.TARVEK_error_message, _integer(code, "code"), message)
        return message.value.decode(errors="replace")

    def _report(self, status: int, function: Any) -> None:
        """Raises the Error of a negative status, warns of a positive one.
        Called with the lock held, right after the call that returned it."""
        name = _name_of(function)
        if status < 0:
            if self._vi == 0 and status == _INVALID_SESSION:
                raise Error(status, "The session is closed.", name)
            description = _describe(self._vi, status)
            errors = self._instrument_errors() if status == _INSTRUMENT_STATUS else []
            raise error_for(status, description, name, errors)
        warnings.warn(DriverWarning(status, _describe(self._vi, status), name),
                      stacklevel=_outside_level())


    def _instrument_errors(self) -> List[Tuple[int, str]]:
        """Empties the instrument's error queue into a list, so that an
        instrument's refusal says what was refused."""
        errors: List[Tuple[int, str]] = []
        code = ViInt32()
        message = ctypes.create_string_buffer(256)
        for _ in range(_ERROR_QUEUE_DEPTH):
            if LIB.TARVEK_error_query(self._vi, ctypes.byref(code), message) < 0 or \
                    code.value == 0:
                break
            errors.append((code.value, message.value.decode(errors="replace")))
        return errors


class _SessionLock:
    def __init__(self, session: Session) -> None:
        self._session = session

    def __enter__(self) -> Session:
        self._session._lock.acquire()
        try:
            self._session.lock_session()
        except BaseException:
            self._session._lock.release()
            raise
        return self._session

    def __exit__(self, *exc_info: Any) -> None:
        try:
            self._session.unlock_session()
        finally:
            self._session._lock.release()


for _public in (Session, OutputChannel, ChannelGroup, Channels):
    _public.__module__ = "tarvek"
