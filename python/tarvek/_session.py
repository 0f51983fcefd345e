"""The root class (Tarvek, also tarvek.Session): opening and closing a
session, direct I/O, the session lock, and turning statuses into exceptions
and warnings; with its IVI utility and direct I/O interfaces. The output
channels are in _channels, the options in _options."""
from __future__ import annotations

import ctypes
import os
import sys
import threading
import warnings
from types import FrameType
from typing import Any, Collection, List, Optional, Tuple, Union

from ._access import StrictAttributes, _Access, _boolean, _describe, _integer, _text
from ._channels import OutputChannel, OutputChannelCollection
from ._errors import DriverWarning, Error, error_for
from ._generated import SessionAttributes, SessionFunctions
from ._ivi import ErrorQueryResult, IviDirectIo, IviUtility
from ._library import LIB, ViInt32, ViInt64, ViSession
from ._options import OptionsArgument, _names_query_status, option_string
from ._trace import IoTrace

# VISA completion codes of a raw read: not warnings, they say how it ended.
VI_SUCCESS_TERM_CHAR = 0x3FFF0005
VI_SUCCESS_MAX_CNT = 0x3FFF0006
_INVALID_SESSION = -1074130544  # 0xBFFA1190
_INSTRUMENT_STATUS = -1074135039  # 0xBFFA0001: the status check found an error bit
_ERROR_QUEUE_DEPTH = 20

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _outside_level() -> int:
    """The stack level of the first caller outside this package, for warnings."""
    level = 1
    frame: Optional[FrameType] = sys._getframe(1)
    while frame is not None and os.path.dirname(frame.f_code.co_filename) == _PACKAGE_DIR:
        frame = frame.f_back
        level += 1
    return level

def _name_of(function: Any) -> str:
    return getattr(function, "__name__", "")

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
        from ._attributes import _enum_value  # noqa: PLC0415 - loaded with the package
        from ._generated import SelectedChannel  # noqa: PLC0415
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


for _public in (Tarvek, TarvekUtility, TarvekDirectIo):
    _public.__module__ = "tarvek"
