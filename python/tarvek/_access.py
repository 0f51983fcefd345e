"""What sessions and channels share: calling the driver under the session's
lock and reading attributes of each value type."""
from __future__ import annotations

import ctypes
from typing import TYPE_CHECKING, Any, Callable, NamedTuple, Optional, Tuple

from ._library import LIB

if TYPE_CHECKING:
    from ._session import Session

# A string read returns the size it needs when the value does not fit; sizes
# are far below the smallest warning code.
_LARGEST_SIZE = 0x00FFFFFF


def _text(value: str) -> bytes:
    """A text for the driver, which sends it on as part of a command: a line
    feed would end that command and start another, and a NUL would cut it
    short, so neither is let through."""
    if not isinstance(value, str):
        raise TypeError(f"expected a str, not {type(value).__name__}")
    if "\n" in value or "\0" in value:
        raise ValueError(f"{value!r}: a text for the instrument cannot hold a line feed or NUL")
    return value.encode()


class _Kind(NamedTuple):
    """How one value type is read: its typed getter and ctypes type (None
    for text, which has a buffer protocol of its own)."""
    get: Callable[..., int]
    ctype: Any


class _Access:
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

    def _write(self, setter: Callable[..., int], attribute: int, value: Any) -> None:
        session = self._session
        with session._lock:
            status = setter(session._vi, self._selector, attribute, value)
            if status:
                session._report(status, setter)

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
        with session._lock:
            status = kind.get(session._vi, selector, attribute, ctypes.byref(value))
            if status:
                session._report(status, kind.get)
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


