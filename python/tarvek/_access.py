"""What sessions and channels share: calling the driver under the session's
lock and reading attributes of each value type."""
from __future__ import annotations

import ctypes
import difflib
import numbers
import operator
import re
from typing import TYPE_CHECKING, Any, Callable, NamedTuple, Optional, Tuple, Union

from ._errors import INVALID_VALUE, InvalidValueError
from ._library import LIB, ViStatus

if TYPE_CHECKING:
    from ._session import Session

# A string read returns the size it needs when the value does not fit; sizes
# are far below the smallest warning code.
_LARGEST_SIZE = 0x00FFFFFF


# Characters a text cannot carry into a command, and why: the driver sends a
# text bare inside its command, so ';' would end that command and start one of
# the caller's, a line feed or carriage return would end the whole message,
# and a NUL would cut the text short on its way into C. The driver refuses all
# but the NUL itself, in the same words; refusing them here too keeps them out
# of resource names, option strings and channel selectors as well.
_REFUSED_CHARACTER = re.compile("[\x00-\x1f;\x7f]")
_CHARACTER_NAMES = {";": ("';'", "which would end the command"),
                    "\n": ("a line feed", "which would end the command"),
                    "\r": ("a carriage return", "which would end the command"),
                    "\0": ("a NUL", "which would cut the text short")}


def _type_name(value: Any) -> str:
    return type(value).__name__


def _text(value: str, name: str = "value") -> bytes:
    """A text for the driver, as UTF-8: a str holding nothing that would end
    or cut short the command it is sent in."""
    if not isinstance(value, str):
        raise TypeError(f"{name} takes a str, not {value!r} ({_type_name(value)})")
    match = _REFUSED_CHARACTER.search(value)
    if match:
        character = match.group()
        what, reason = _CHARACTER_NAMES.get(character,
                                            ("a control character", "which a command cannot carry"))
        raise InvalidValueError(
            INVALID_VALUE, f"Value contains {what} (0x{ord(character):02X}), {reason}; a text "
            f"sent to the instrument cannot hold it.")
    return value.encode()


def _is_numpy_bool(value: Any) -> bool:
    kind = type(value)
    return kind.__module__ == "numpy" and kind.__name__ in ("bool_", "bool")


def _boolean(value: Any, name: str = "value") -> bool:
    """A boolean: True or False, numpy's bool, or the integer 0 or 1 (an int
    or numpy integer). Anything else, "off" and 2 included, is refused rather
    than judged by its truth."""
    if value is True or value is False:
        return value
    if _is_numpy_bool(value):
        return bool(value)
    if not isinstance(value, (str, bytes, float)):
        try:
            number = operator.index(value)
        except TypeError:
            pass
        else:
            if number in (0, 1):
                return bool(number)
            raise ValueError(f"{name} takes True or False (or 1 or 0), not {number}")
    raise TypeError(f"{name} takes a bool (True or False, or 1 or 0), not {value!r} "
                    f"({_type_name(value)})")


def _integer(value: Any, name: str = "value", bits: int = 32) -> int:
    """A signed integer of the given width: an int or numpy integer, not a
    bool and not a float (a float where an integer is due is refused, not
    rounded)."""
    if isinstance(value, bool) or _is_numpy_bool(value) or isinstance(value, (float, str, bytes)):
        raise TypeError(f"{name} takes an int, not {value!r} ({_type_name(value)})")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} takes an int, not {value!r} ({_type_name(value)})") from None
    if not -2**(bits - 1) <= number < 2**(bits - 1):
        raise ValueError(f"{name} takes an int from {-2**(bits - 1)} to {2**(bits - 1) - 1}, "
                         f"not {number}")
    return number


def _real(value: Any, name: str = "value") -> float:
    """A real: a float or an int (also numpy's), not a bool or a str. NaN and
    infinities go on to the driver, which refuses them wherever they would be
    sent to the instrument."""
    if type(value) is float:
        return value
    if not isinstance(value, (bool, str, bytes)) and not _is_numpy_bool(value):
        number: Any = value
        if not isinstance(value, numbers.Real):
            try:
                number = operator.index(value)
            except TypeError:
                number = None
        if number is not None:
            try:
                return float(number)
            except OverflowError:
                raise ValueError(f"{name}: {value!r} is too large for a real") from None
    raise TypeError(f"{name} takes a float or an int, not {value!r} ({_type_name(value)})")


# A channel argument: its name (physical names in any case; "" for the only
# channel of a one-output model) or the OutputChannel itself.
ChannelLike = Union[str, "_Access"]


class _Kind(NamedTuple):
    """How one value type is read: the name of its typed getter and its
    ctypes type (None for text, which has a buffer protocol of its own)."""
    get: str
    ctype: Any


class StrictAttributes:
    """The base of every driver object. They all have __slots__, so a
    misspelt or misplaced attribute fails here, naming the closest valid one,
    instead of becoming a Python attribute that sends nothing to the
    instrument."""

    __slots__ = ()

    def __setattr__(self, name: str, value: Any) -> None:
        try:
            object.__setattr__(self, name, value)
        except AttributeError:
            if name.startswith("_") or hasattr(type(self), name):
                raise
            raise unknown_attribute(self, name) from None


class _Access(StrictAttributes):
    """What sessions and channels share: calling the driver under the session's
    lock, so that a failure's text is read before another thread's call can
    replace it, and turning statuses into exceptions and warnings."""

    __slots__ = ()
    _session: "Session"
    _selector: bytes
    _parts: Tuple[bytes, ...]
    _several = False  # reads return a list even for one channel (ChannelGroup)

    def _call(self, function: Callable[..., int], *arguments: Any) -> int:
        session = self._session
        with session._lock:
            status = function(session._vi, *arguments)
            if status:
                session._report(status, function)
        return status

    def _read(self, kind: _Kind, attribute: int, convert: Optional[Callable[[Any], Any]]) -> Any:
        if len(self._parts) == 1 and not self._several:
            return self._read_one(kind, attribute, self._parts[0], convert)
        return [self._read_one(kind, attribute, part, convert) for part in self._parts]

    def _read_one(self, kind: _Kind, attribute: int, selector: bytes,
                  convert: Optional[Callable[[Any], Any]]) -> Any:
        session = self._session
        if kind.ctype is None:
            return self._read_string(attribute, selector)
        value = kind.ctype()
        get = getattr(LIB, kind.get)
        with session._lock:
            status = get(session._vi, selector, attribute, ctypes.byref(value))
            if status:
                session._report(status, get)
        return value.value if convert is None else convert(value.value)

    def _read_string(self, attribute: int, selector: bytes) -> str:
        session = self._session
        size = 1024
        while True:
            buffer = ctypes.create_string_buffer(size)
            with session._lock:
                status = LIB.TARVEK_GetAttributeViString(session._vi, selector, attribute, size,
                                                         buffer)
                if size < status <= _LARGEST_SIZE:
                    size = status  # the value did not fit: read it again whole
                    continue
                if status:
                    session._report(status, LIB.TARVEK_GetAttributeViString)
            return buffer.value.decode(errors="replace")

    def _each(self, one: Callable[[bytes], Any]) -> Any:
        """one(selector) for a single channel, or a list over a group."""
        if len(self._parts) == 1 and not self._several:
            return one(self._parts[0])
        return [one(part) for part in self._parts]


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


def unknown_attribute(owner: Any, name: str) -> AttributeError:
    """The AttributeError for an attribute a driver object does not have,
    naming the closest valid one (and where a channel attribute lives)."""
    kind = type(owner)
    public = sorted(item for item in dir(kind) if not item.startswith("_"))
    text = f"{kind.__name__} has no attribute {name!r}"
    close = difflib.get_close_matches(name, public, n=1, cutoff=0.6)
    from ._channels import OutputChannel  # noqa: PLC0415 - no import cycle at load
    from ._session import Session  # noqa: PLC0415
    if isinstance(owner, Session) and name in dir(OutputChannel):
        text += (f"; it is an attribute of an output channel: "
                 f"session.channels['CH1'].{name}")
    elif close:
        text += f"; did you mean {close[0]!r}?"
    error = AttributeError(text + " (nothing was sent to the instrument)")
    return error
