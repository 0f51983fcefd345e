"""Sessions and output channels: the hand-written part of the package, on
which the generated attribute and function layer (_generated.py) stands."""
from __future__ import annotations

import ctypes
import os
import re
import sys
import threading
import warnings
from types import FrameType
from typing import (Any, Collection, Iterator, List, Mapping, Optional, Sequence, Set, Tuple,
                    TypedDict, Union, overload)

from ._access import StrictAttributes, _Access, _boolean, _integer, _text
from ._errors import DriverWarning, Error, UnknownChannelError, error_for
from ._generated import (ChannelAttributes, ChannelFunctions, ChannelGroupAttributes,
                         ChannelGroupFunctions, SessionAttributes, SessionFunctions)
from ._ivi import ErrorQueryResult, IviDirectIo, IviUtility
from ._library import LIB, ViInt32, ViInt64, ViReal64, ViSession, ViStatus
from ._trace import IoTrace

# VISA completion codes of a raw read: not warnings, they say how it ended.
VI_SUCCESS_TERM_CHAR = 0x3FFF0005
VI_SUCCESS_MAX_CNT = 0x3FFF0006
_INVALID_SESSION = -1074130544  # 0xBFFA1190
_INSTRUMENT_STATUS = -1074135039  # 0xBFFA0001: the status check found an error bit
_ERROR_QUEUE_DEPTH = 20
_UNKNOWN_CHANNEL = -1074134937  # 0xBFFA0067: unknown physical repeated capability selector
_MEASURE_CURRENT = 0
_MEASURE_VOLTAGE = 1

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

_QUERY_STATUS_RE = re.compile(r"(^|,)\s*queryinstr(ument)?status\s*=", re.IGNORECASE)


class Options(TypedDict, total=False):
    """The driver options of :class:`Tarvek`, each optional. ``driver_setup``
    is the DriverSetup text ("Model:6510") or a mapping of its keys. Status
    checking (``query_instrument_status``) is on unless set False here."""
    simulate: bool
    cache: bool
    range_check: bool
    query_instrument_status: bool
    record_coercions: bool
    interchange_check: bool
    driver_setup: Union[str, Mapping[str, str]]


OptionsArgument = Union[None, str, Options, Mapping[str, Any]]


def _names_query_status(options: OptionsArgument) -> bool:
    """Whether the caller's options say whether to check status."""
    if options is None:
        return False
    if isinstance(options, str):
        return bool(_QUERY_STATUS_RE.search(options.split("DriverSetup", 1)[0]))
    return any(isinstance(key, str) and key.replace("_", "").lower() in
               ("queryinstrstatus", "queryinstrumentstatus") for key in options)


def option_string(options: OptionsArgument) -> str:
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
    are properties, its functions methods. Setting an attribute it does not
    have raises AttributeError naming the closest one."""

    __slots__ = ("_session", "_selector", "_parts", "_name")

    def __init__(self, session: "Session", name: str, parts: Sequence[str]) -> None:
        self._session = session
        self._name = name
        self._selector = _text(name)
        self._parts = tuple(_text(part) for part in parts)

    @property
    def name(self) -> str:
        """The channel's name: the physical name ("CH1") for a physical
        channel, else the selector it was indexed with."""
        return self._name

    @property
    def names(self) -> List[str]:
        """The single-channel selectors this object stands for."""
        return [part.decode() for part in self._parts]

    # -- Measurements and protection of this channel ----------------------

    def _selected(self, read: Any) -> Any:
        """read(selector) with this channel selected on the instrument, the
        selection and the read under the driver's session lock so that no
        other thread moves the selected channel in between."""
        session = self._session

        def one(selector: bytes) -> Any:
            with session.locked():
                names = session.channels.names
                if len(names) > 1:
                    physical = selector.decode().upper()
                    if physical not in names:
                        raise UnknownChannelError(
                            _UNKNOWN_CHANNEL, f"{selector.decode()!r} is not a physical channel "
                            f"name; use one of {', '.join(names)}")
                    session.selected_channel = names.index(physical)  # type: ignore[assignment]
                return read(selector)
        return self._each(one)

    def _measured(self, kind: int) -> Any:
        session = self._session

        def one(selector: bytes) -> float:
            value = ViReal64()
            self._call(LIB.TARVEK_Measure, selector, kind, ctypes.byref(value))
            return value.value

        def locked(selector: bytes) -> float:
            with session._lock:
                return one(selector)
        return self._each(locked)

    @property
    def voltage(self) -> float:
        """The measured output voltage, in volts (TARVEK_Measure)."""
        return self._measured(_MEASURE_VOLTAGE)

    @property
    def current(self) -> float:
        """The measured output current, in amperes (TARVEK_Measure)."""
        return self._measured(_MEASURE_CURRENT)

    @property
    def power(self) -> float:
        """The measured output power, in watts: voltage times current,
        both measured under one hold of the session lock."""
        session = self._session

        def one(selector: bytes) -> float:
            voltage, current = ViReal64(), ViReal64()
            with session.locked():
                self._call(LIB.TARVEK_Measure, selector, _MEASURE_VOLTAGE, ctypes.byref(voltage))
                self._call(LIB.TARVEK_Measure, selector, _MEASURE_CURRENT, ctypes.byref(current))
            return voltage.value * current.value
        return self._each(one)

    @property
    def ocp_enabled(self) -> bool:
        """Whether over-current protection is enabled on this channel."""
        return self._selected(lambda _: self._session.ocp_enabled)

    @ocp_enabled.setter
    def ocp_enabled(self, value: bool) -> None:
        enabled = _boolean(value, "ocp_enabled")

        def write(_: bytes) -> None:
            self._session.ocp_enabled = enabled
        self._selected(write)

    @property
    def ocp_tripped(self) -> bool:
        """Whether over-current protection has tripped on this channel."""
        return self._selected(lambda _: self._session.ocp_tripped)

    @property
    def ovp_tripped(self) -> bool:
        """Whether over-voltage protection has tripped on this channel."""
        return self._selected(lambda _: self._session.ovp_tripped)

    def clear_protection(self) -> None:
        """Clears a tripped over-current or over-voltage protection of this
        channel (TARVEK_ResetOutputProtection)."""
        session = self._session

        def one(selector: bytes) -> None:
            with session._lock:
                self._call(LIB.TARVEK_ResetOutputProtection, selector)
        self._each(one)

    def __repr__(self) -> str:
        return f"<tarvek.{type(self).__name__} {self._name!r} of {self._session!r}>"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, OutputChannel) and other._session is self._session and \
            other._parts == self._parts

    def __hash__(self) -> int:
        return hash((id(self._session), self._parts))


class ChannelGroup(ChannelGroupAttributes, ChannelGroupFunctions, OutputChannel):
    """Several output channels named by one selector ("CH1-CH3", "CH1,CH3"),
    a list or a slice, as ``session.channels["CH1-CH3"]``,
    ``session.channels[["CH1", "CH3"]]`` or ``session.channels.group(...)``
    gives them. A write, and a function without a result, goes to every
    channel named in one call of the driver; a read, and a function with a
    result, returns a list with one value per channel, in selector order."""

    __slots__ = ()
    _several = True

    # The per-channel reads of OutputChannel, typed as the lists they are here.
    @property  # type: ignore[override]
    def voltage(self) -> List[float]:
        """The measured output voltage of each channel, in volts."""
        return self._measured(_MEASURE_VOLTAGE)

    @property  # type: ignore[override]
    def current(self) -> List[float]:
        """The measured output current of each channel, in amperes."""
        return self._measured(_MEASURE_CURRENT)

    @property  # type: ignore[override]
    def power(self) -> List[float]:
        """The measured output power of each channel, in watts."""
        return OutputChannel.power.fget(self)  # type: ignore[attr-defined]

    @property  # type: ignore[override]
    def ocp_enabled(self) -> List[bool]:
        """Whether over-current protection is enabled, per channel."""
        return self._selected(lambda _: self._session.ocp_enabled)

    @ocp_enabled.setter
    def ocp_enabled(self, value: bool) -> None:
        OutputChannel.ocp_enabled.fset(self, value)  # type: ignore[attr-defined]

    @property  # type: ignore[override]
    def ocp_tripped(self) -> List[bool]:
        """Whether over-current protection has tripped, per channel."""
        return self._selected(lambda _: self._session.ocp_tripped)

    @property  # type: ignore[override]
    def ovp_tripped(self) -> List[bool]:
        """Whether over-voltage protection has tripped, per channel."""
        return self._selected(lambda _: self._session.ovp_tripped)


class OutputChannelCollection(StrictAttributes, Collection[OutputChannel]):
    """The instrument's output channels: iterate over them, index them by
    position (0 is CH1) or by a selector (``channels['CH2']``,
    ``channels['CH1-CH3']``, ``channels['CH1,CH3']``, a virtual name), or by
    a list, tuple or slice for a group. Physical names are matched in any
    case ("ch1" is "CH1"); a name the instrument lacks fails at once, with
    the valid names in the message."""

    __slots__ = ("_session", "_names", "_virtual")

    def __init__(self, session: "Session", names: Sequence[str]) -> None:
        self._session = session
        self._names = list(names)
        self._virtual: Set[str] = set()

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
    def __getitem__(self, key: slice) -> ChannelGroup: ...

    @overload
    def __getitem__(self, key: Union[List[Any], Tuple[Any, ...]]) -> ChannelGroup: ...

    @overload
    def __getitem__(self, key: OutputChannel) -> OutputChannel: ...

    def __getitem__(self, key: Any) -> Any:
        """A channel by position or selector; a selector naming several
        channels, a list, a tuple or a slice gives a ChannelGroup (an
        OutputChannel whose reads return lists)."""
        if isinstance(key, OutputChannel):
            if key._session is not self._session:
                raise UnknownChannelError(_UNKNOWN_CHANNEL,
                                          f"{key!r} is a channel of another session")
            return key
        if isinstance(key, slice):
            names = self._names[key]
            return ChannelGroup(self._session, ",".join(names), names)
        if isinstance(key, (list, tuple)):
            parts: List[str] = []
            for item in key:
                parts += self[item].names
            return ChannelGroup(self._session, ",".join(parts), parts)
        if isinstance(key, bool) or not isinstance(key, (int, str)):
            raise TypeError(f"channels are indexed by position, name, list or slice, "
                            f"not {key!r} ({type(key).__name__})")
        if isinstance(key, int):
            name = self._names[key]
            return OutputChannel(self._session, name, [name])
        parts = self._resolve(key)
        if len(parts) > 1:
            return ChannelGroup(self._session, ",".join(parts), parts)
        return OutputChannel(self._session, parts[0], parts)

    def group(self, selector: Union[str, Sequence[str]]) -> ChannelGroup:
        """The channels a selector (or a list of names) names, as a
        ChannelGroup even when it names one."""
        parts = self._resolve(selector) if isinstance(selector, str) else \
            [name for item in selector for name in self._resolve(item)]
        return ChannelGroup(self._session, ",".join(parts), parts)

    def _resolve(self, selector: str) -> List[str]:
        """The single-channel names of a selector, checked now: physical
        names in their own case, ranges expanded, virtual names asked of
        the driver (which resolves them without talking to the instrument).
        "" names the only channel of a one-output model."""
        _text(selector, "channel name")
        text = selector.strip()
        if text.startswith("[") and text.endswith("]"):
            text = text[1:-1]
        if not text:
            if len(self._names) == 1:
                return list(self._names)
            raise self._unknown(selector, "a channel name is required on this model")
        parts: List[str] = []
        upper = [name.upper() for name in self._names]
        for item in (piece.strip() for piece in text.split(",")):
            if item.upper() in upper:
                parts.append(self._names[upper.index(item.upper())])
                continue
            if "-" in item or ":" in item:
                first, _, last = item.replace(":", "-").partition("-")
                first, last = first.strip().upper(), last.strip().upper()
                if first in upper and last in upper and upper.index(first) <= upper.index(last):
                    parts += self._names[upper.index(first):upper.index(last) + 1]
                    continue
            if item not in self._virtual:
                self._check_virtual(item)
            parts.append(item)
        return parts

    def _check_virtual(self, name: str) -> None:
        session = self._session
        maximum = ViReal64()
        with session._lock:
            status = LIB.TARVEK_QueryMaxVoltageLevel(session._vi, _text(name), 1.0,
                                                     ctypes.byref(maximum))
            if status < 0:
                if session._vi == 0:
                    session._report(status, LIB.TARVEK_QueryMaxVoltageLevel)
                raise self._unknown(name, _describe(session._vi, status))
        self._virtual.add(name)

    def _unknown(self, name: str, why: str) -> UnknownChannelError:
        return UnknownChannelError(
            _UNKNOWN_CHANNEL, f"No output channel {name!r}; the channels are "
            f"{', '.join(self._names)} (in any case) or a virtual name of the "
            f"configuration store. {why}")

    def _canonical(self, value: Any, name: str = "channel_name") -> bytes:
        """The selector for a channel argument of a function: a name in
        any case, "" for the only channel, or an OutputChannel."""
        if isinstance(value, OutputChannel):
            return value._selector
        text = _text(value, name)
        stripped = value.strip()
        if not stripped and len(self._names) == 1:
            return self._names[0].encode()
        upper = [item.upper() for item in self._names]
        pieces = [piece.strip() for piece in stripped.split(",")]
        if all(piece.upper() in upper for piece in pieces):
            return ",".join(self._names[upper.index(piece.upper())] for piece in pieces).encode()
        return text

    def __repr__(self) -> str:
        return f"<tarvek.OutputChannelCollection {self._names}>"


# The former name of the collection.
Channels = OutputChannelCollection


class Tarvek(SessionAttributes, SessionFunctions, _Access):
    """A session with a TARVEK power supply: the driver's root class.

    ``Tarvek(resource_name, id_query=True, reset=False, options=None)``
    opens a VISA resource ("TCPIP::192.168.1.20::5025::SOCKET") or a logical
    name of the IVI configuration store. ``options`` is an :class:`Options`
    dict such as ``{'simulate': True, 'range_check': False,
    'driver_setup': 'Model:6510'}`` or the driver's option string. Use it as
    a context manager, or call :meth:`close`. ``tarvek.Session`` is the same
    class.

    Status checking is on: after each command the driver asks the instrument
    whether it accepted it, and a refused value raises :class:`tarvek.Error`
    with the instrument's own error text. Turn it off for speed with
    ``options={'query_instrument_status': False}`` (or
    ``ivi_utility.query_instrument_status_enabled = False``); then call
    ``ivi_utility.raise_on_device_error()`` yourself.

    Setting an attribute the session does not have raises AttributeError
    naming the closest one, so a misspelt name never silently sends nothing.

    Attributes of the instrument are properties of the session; those of an
    output channel are properties of ``session.channels['CH1']``. Every
    instrument function is a method. A failure raises :class:`tarvek.Error`
    with the driver's explanation; a warning is issued as
    :class:`tarvek.DriverWarning`. A session may be shared between threads.
    """

    __slots__ = ("_lock", "_vi", "_session", "_selector", "_parts", "_channels",
                 "_resource_name", "_utility", "_direct_io", "_io_trace", "__weakref__")

    def __init__(self, resource_name: str, id_query: bool = True, reset: bool = False,
                 options: OptionsArgument = None) -> None:
        self._lock = threading.RLock()
        self._vi = 0
        self._session = self
        self._selector = b""
        self._parts = (b"",)
        self._channels: Optional[OutputChannelCollection] = None
        self._resource_name = resource_name
        self._utility = TarvekUtility(self)
        self._direct_io = TarvekDirectIo(self)
        self._io_trace = IoTrace(self)
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
        if not _names_query_status(options):
            # A refused value must never look accepted: check the
            # instrument's status after each command unless told otherwise.
            self.query_instrument_status = True

    @property
    def resource_name(self) -> str:
        """The resource or logical name the session was opened with."""
        return self._resource_name

    @property
    def ivi_utility(self) -> "TarvekUtility":
        """Identity, status checking, instrument errors and reset."""
        return self._utility

    @property
    def io_trace(self) -> IoTrace:
        """The I/O trace of the session: what the driver sent to and
        received from the instrument (off until switched on; a context
        manager records while inside)."""
        return self._io_trace

    @property
    def ivi_direct_io(self) -> "TarvekDirectIo":
        """Messages sent to and read from the instrument unchanged."""
        return self._direct_io

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

    def __enter__(self) -> "Tarvek":
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
        return f"<tarvek.Tarvek {self._resource_name!r}, {state}>"

    # -- Channels ----------------------------------------------------------

    @property
    def channels(self) -> OutputChannelCollection:
        """The output channels of the instrument ("CH1" to "CH3" on a
        Series6310, "CH1" on a Series6510), indexed by name in any case,
        position, list or slice."""
        if self._channels is None:
            names = [self.get_channel_name(index) for index in range(1, self.channel_count + 1)]
            self._channels = OutputChannelCollection(self, names)
        return self._channels

    def channels_item(self, key: Union[int, str]) -> OutputChannel:
        """One output channel by name or position: ``channels[key]``."""
        return self.channels[key]

    def _channel_index(self, value: Any, name: str = "channel") -> int:
        """The channel number (0 for CH1) for an argument numbering a
        channel: a SelectedChannel member, its number or name, a channel
        name in any case, or an OutputChannel."""
        from ._generated import SelectedChannel, _enum_value  # noqa: PLC0415
        if isinstance(value, OutputChannel) or (
                isinstance(value, str) and value.strip().upper() not in SelectedChannel.__members__):
            channel = self.channels[value]
            if len(channel.names) != 1:
                raise ValueError(f"{name} takes one channel, not {channel.names}")
            return self.channels.names.index(channel.names[0])
        return _enum_value(SelectedChannel, value, name)

    def _channel_text(self, value: Any, name: str = "channel_name") -> bytes:
        """The selector for a channel argument: a name in any case, "" for
        the only channel of a one-output model, or an OutputChannel."""
        return self.channels._canonical(value, name)

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

    def _read_raw(self, size: int) -> bytes:
        buffer = ctypes.create_string_buffer(size)
        count = ViInt64(0)
        with self._lock:
            status = LIB.TARVEK_viRead(self._vi, size, buffer, ctypes.byref(count))
            if status and status not in (VI_SUCCESS_TERM_CHAR, VI_SUCCESS_MAX_CNT):
                self._report(status, LIB.TARVEK_viRead)
        return buffer.raw[:count.value]

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


class TarvekUtility(StrictAttributes, IviUtility):
    """The IVI utility interface of a session (``session.ivi_utility``)."""

    __slots__ = ("_session",)

    def __init__(self, session: Tarvek) -> None:
        self._session = session

    @property
    def driver_version(self) -> str:
        """The version of this Python driver package (semantic versioning)."""
        from . import __version__  # noqa: PLC0415 - the package is loaded by now
        return __version__

    @property
    def driver_vendor(self) -> str:
        """The driver's vendor."""
        return self._session.specific_driver_vendor

    @property
    def instrument_manufacturer(self) -> str:
        """The instrument's manufacturer, as it identifies itself."""
        return self._session.instrument_manufacturer

    @property
    def instrument_model(self) -> str:
        """The instrument's model, as it identifies itself."""
        return self._session.instrument_model

    @property
    def query_instrument_status_enabled(self) -> bool:
        """Whether the driver checks the instrument's status after each
        command (on by default in Python)."""
        return self._session.query_instrument_status

    @query_instrument_status_enabled.setter
    def query_instrument_status_enabled(self, enabled: bool) -> None:
        self._session.query_instrument_status = _boolean(enabled, "enabled")

    @property
    def simulation_enabled(self) -> bool:
        """Whether the session simulates the instrument."""
        return self._session.simulate

    def error_query(self) -> Optional[ErrorQueryResult]:
        """The oldest entry of the instrument's error queue, or None when
        the queue is empty."""
        code = ViInt32()
        message = ctypes.create_string_buffer(256)
        self._session._call(LIB.TARVEK_error_query, ctypes.byref(code), message)
        if code.value == 0:
            return None
        return ErrorQueryResult(code.value, message.value.decode(errors="replace"))

    def error_query_all(self) -> Collection[ErrorQueryResult]:
        """Every entry of the instrument's error queue, oldest first,
        emptying it."""
        errors: List[ErrorQueryResult] = []
        for _ in range(_ERROR_QUEUE_DEPTH):
            error = self.error_query()
            if error is None:
                break
            errors.append(error)
        return errors

    def raise_on_device_error(self) -> None:
        """Raises :class:`tarvek.Error` listing the instrument's errors when
        its error queue holds any."""
        errors = self.error_query_all()
        if errors:
            raise Error(_INSTRUMENT_STATUS, "The instrument reports errors.", "error_query",
                        [(error.code, error.message) for error in errors])

    def reset(self) -> None:
        """Resets the instrument and the driver's state (TARVEK_reset)."""
        self._session.reset()

    @property
    def supported_instrument_models(self) -> Tuple[str, ...]:
        """The models the driver supports."""
        return tuple(model.strip() for model in
                     self._session.supported_instrument_models.split(",") if model.strip())


class TarvekDirectIo(StrictAttributes, IviDirectIo):
    """Direct I/O of a session (``session.ivi_direct_io``): messages sent
    and read unchanged. Not in simulation."""

    __slots__ = ("_session",)

    def __init__(self, session: Tarvek) -> None:
        self._session = session

    @property
    def session(self) -> Any:
        """The VISA session of the underlying I/O library (libtkvisa)."""
        return self._session.system_io_session

    @property
    def io_timeout_ms(self) -> int:
        """The I/O timeout, in milliseconds."""
        return self._session.system_io_timeout

    @io_timeout_ms.setter
    def io_timeout_ms(self, timeout_ms: int) -> None:
        self._session.system_io_timeout = _integer(timeout_ms, "timeout_ms")

    def read_bytes(self) -> bytes:
        """Reads one response of the instrument, as sent."""
        return self._session._read_raw(65536)

    def read_string(self) -> str:
        """Reads one response of the instrument, as text."""
        return self.read_bytes().decode(errors="replace")

    def write_bytes(self, data: bytes) -> None:
        """Sends data to the instrument unchanged."""
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"data takes bytes, not {data!r} ({type(data).__name__})")
        self._session.write(bytes(data))

    def write_string(self, data: str) -> None:
        """Sends text to the instrument unchanged (add the line feed
        yourself)."""
        if not isinstance(data, str):
            raise TypeError(f"data takes a str, not {data!r} ({type(data).__name__})")
        self._session.write(data)


# The former name of the root class, kept for existing programs.
Session = Tarvek


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


for _public in (Tarvek, OutputChannel, ChannelGroup, OutputChannelCollection, TarvekUtility,
                TarvekDirectIo):
    _public.__module__ = "tarvek"
