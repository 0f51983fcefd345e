"""Output channels: one channel, a group of them, and the collection a
session indexes them from (``session.channels``). Names, physical and
virtual, are checked when indexed, in any case: the physical names here,
the virtual names of the configuration store by the driver, which resolves
them to physical names without talking to the instrument."""
from __future__ import annotations

import ctypes
from typing import (TYPE_CHECKING, Any, Collection, Dict, Iterator, List, Optional, Sequence,
                    Tuple, Union, overload)

from ._access import StrictAttributes, _Access, _boolean, _describe, _text
from ._errors import UnknownChannelError
from ._generated import (ChannelAttributes, ChannelFunctions, ChannelGroupFunctions)
from ._library import LIB, ViReal64

if TYPE_CHECKING:
    from ._session import Session

_UNKNOWN_CHANNEL = -1074134937  # 0xBFFA0067: unknown physical repeated capability selector
_MEASURE_CURRENT = 0
_MEASURE_VOLTAGE = 1


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
        channel, the virtual name for one indexed by its virtual name."""
        return self._name

    @property
    def names(self) -> List[str]:
        """The physical names of the channels this object stands for (a
        virtual name's physical name)."""
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


class ChannelGroup(ChannelGroupFunctions, OutputChannel):
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
        self._virtual: Dict[str, List[str]] = {}

    @property
    def names(self) -> List[str]:
        """The physical channel names, "CH1" first."""
        return list(self._names)

    def __len__(self) -> int:
        return len(self._names)

    def __iter__(self) -> Iterator[OutputChannel]:
        return iter([OutputChannel(self._session, name, [name]) for name in self._names])

    def __contains__(self, item: object) -> bool:
        """Whether an OutputChannel of this session, or a name (physical or
        virtual, in any case) or selector, names channels of this session."""
        if isinstance(item, OutputChannel):
            return item._session is self._session and all(
                part.decode() in self._names for part in item._parts)
        if not isinstance(item, str):
            return False
        try:
            return bool(self._resolve(item))
        except (UnknownChannelError, ValueError):
            return False

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
        # A virtual name keeps its own name; its part is the physical name.
        text = key.strip().strip("[]").strip()
        virtual = bool(text) and self._physical(text) is None
        return OutputChannel(self._session, text if virtual else parts[0], parts)

    def group(self, selector: Union[str, Sequence[str]]) -> ChannelGroup:
        """The channels a selector (or a list of names) names, as a
        ChannelGroup even when it names one."""
        parts = self._resolve(selector) if isinstance(selector, str) else \
            [name for item in selector for name in self._resolve(item)]
        return ChannelGroup(self._session, ",".join(parts), parts)

    def _resolve(self, selector: str) -> List[str]:
        """The physical names a selector names, checked now: physical names
        and ranges of them in any case here, anything else (a virtual name
        of the configuration store, in any case as the driver matches them)
        resolved by the driver without talking to the instrument. "" names
        the only channel of a one-output model."""
        _text(selector, "channel name")
        text = selector.strip()
        if text.startswith("[") and text.endswith("]"):
            text = text[1:-1]
        if not text:
            if len(self._names) == 1:
                return list(self._names)
            raise self._unknown(selector, "a channel name is required on this model")
        parts: List[str] = []
        for item in (piece.strip() for piece in text.split(",")):
            physical = self._physical(item)
            parts += physical if physical is not None else self._resolve_virtual(item)
        return parts

    def _physical(self, item: str) -> Optional[List[str]]:
        """The physical names of one item of a selector when it is a
        physical name or a range of them, in any case; else None."""
        upper = [name.upper() for name in self._names]
        if item.upper() in upper:
            return [self._names[upper.index(item.upper())]]
        if "-" in item or ":" in item:
            first, _, last = item.replace(":", "-").partition("-")
            first, last = first.strip().upper(), last.strip().upper()
            if first in upper and last in upper and upper.index(first) <= upper.index(last):
                return self._names[upper.index(first):upper.index(last) + 1]
        return None

    def _resolve_virtual(self, name: str) -> List[str]:
        """The physical names the driver resolves a name to (a virtual name
        of the configuration store), remembered by the name in upper case,
        as the driver matches virtual names."""
        key = name.upper()
        known = self._virtual.get(key)
        if known is not None:
            return list(known)
        session = self._session
        names = ctypes.create_string_buffer(256)
        with session._lock:
            status = LIB.TARVEK_ResolveChannelNames(session._vi, _text(name), len(names), names)
            if status < 0:
                if session._vi == 0:
                    session._report(status, LIB.TARVEK_ResolveChannelNames)
                raise self._unknown(name, _describe(session._vi, status))
        resolved = [part for part in names.value.decode(errors="replace").split(",") if part]
        if status > 0 or not resolved:  # cut short, or nothing: not one name of this session
            raise self._unknown(name, "it names more channels than a name can")
        self._virtual[key] = resolved
        return list(resolved)

    def _unknown(self, name: str, why: str) -> UnknownChannelError:
        return UnknownChannelError(
            _UNKNOWN_CHANNEL, f"No output channel {name!r}; the channels are "
            f"{', '.join(self._names)} or a virtual name of the configuration store "
            f"(either in any case). {why}")

    def _canonical(self, value: Any, name: str = "channel_name") -> bytes:
        """The selector for a channel argument of a function: "" for the
        only channel, an OutputChannel, or a selector whose physical names
        and ranges are put in their own case (virtual names go to the
        driver, which matches them in any case)."""
        if isinstance(value, OutputChannel):
            return value._selector
        text = _text(value, name)
        stripped = value.strip()
        if not stripped and len(self._names) == 1:
            return self._names[0].encode()
        pieces = [piece.strip() for piece in stripped.split(",")]
        canonical = [self._physical(piece) for piece in pieces]
        if any(names is not None for names in canonical):
            return ",".join(",".join(names) if names is not None else piece
                            for names, piece in zip(canonical, pieces)).encode()
        return text

    def __repr__(self) -> str:
        return f"<tarvek.OutputChannelCollection {self._names}>"


# The former name of the collection.
Channels = OutputChannelCollection


for _public in (OutputChannel, ChannelGroup, OutputChannelCollection):
    _public.__module__ = "tarvek"
