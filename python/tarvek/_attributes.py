"""The driver's attributes as descriptors.

The generated layer (_generated.py) declares each attribute in one line,
its id and purpose::

    voltage_level = _Real64(1250001, "The voltage the output regulates to ...")

and everything an attribute does lives here once: a read calls the typed
getter of its C type on the owner's channel selector (the session's empty
one, a channel's name, a group's list, giving a list) and converts the
result (a bool, an enum member); a write checks the value's type and range
(a bool is never taken for a number, an enum by member, number or name),
then calls the typed setter, all under the session's lock, so that a
failure's text is read before another thread's call can replace it; a
status becomes an exception or a warning (``Session._report``).

Each descriptor is a property, so ``help()`` lists them as properties and a
read-only one refuses a write as any property without a setter does. Their
documentation (unit, range, values, SCPI, the C attribute) is put together
from the catalogue's metadata (:class:`AttributeInfo`) by :func:`document`
when the generated layer has been loaded."""
from __future__ import annotations

import enum
from typing import (TYPE_CHECKING, Any, Callable, ClassVar, Dict, Generic, Iterable, List,
                    NamedTuple, Optional, Tuple, Type, TypeVar, Union, cast, overload)

from ._access import _boolean, _integer, _Kind, _real, _text
from ._library import LIB, ViBoolean, ViInt32, ViReal64, ViSession

if TYPE_CHECKING:
    from ._channels import ChannelGroup

_T = TypeVar("_T")
_E = TypeVar("_E", bound=enum.IntEnum)


class _NamedEnum(enum.IntEnum):
    """An IntEnum that prints as its name (MeasurementType.VOLTAGE), not
    as its number; it still compares and converts like the int."""

    def __str__(self) -> str:
        return f"{type(self).__name__}.{self.name}"

    def __format__(self, fmt: str) -> str:
        return str(self) if not fmt else int.__format__(int(self), fmt)


def _enum_value(kind: Type[enum.IntEnum], value: Union[int, str], name: str = "value") -> int:
    """A member, its value (an int of 32 bits, not a bool or a float) or its
    name in any case, as the C value."""
    if isinstance(value, str):
        try:
            return int(kind[value.upper()])
        except KeyError:
            raise ValueError(f"{value!r} is not a {kind.__name__}: "
                             f"{', '.join(kind.__members__)}") from None
    if isinstance(value, kind):
        return int(value)
    try:
        return _integer(value, name)
    except TypeError:
        raise TypeError(f"{name} takes a {kind.__name__} member, its name or its number, not "
                        f"{value!r} ({type(value).__name__})") from None


def _enum_result(kind: Type[_E], value: int) -> _E:
    """The member for a value the driver returned. A value the table lacks
    stays an int rather than being lost (typed as the enum, which it
    compares and converts like)."""
    try:
        return kind(value)
    except ValueError:
        return cast(_E, value)


class AttributeInfo(NamedTuple):
    """What the catalogue says about one attribute."""
    name: str                 # C name without TARVEK_ATTR_
    python_name: str          # the property
    id: int
    c_type: str               # ViReal64, ViInt32, ViBoolean, ViString, ViSession
    writable: bool
    channel: bool             # a property of OutputChannel instead of Session
    enum: Optional[Type[enum.IntEnum]]
    words: Tuple[Tuple[str, int, Tuple[str, ...], Tuple[str, ...]], ...]  # name, value, words, models
    query: Optional[str]
    command: Optional[str]
    unsupported: Optional[str]
    family: Optional[Tuple[str, Optional[str], Optional[str]]]
    simulated: Optional[str]
    unit: Optional[str] = None          # the catalogue's unit
    range: Optional[str] = None         # the catalogue's range, as text
    description: Optional[str] = None   # the catalogue's description
    note: Optional[str] = None          # how the driver does it when no SCPI says


class _Attribute(property, Generic[_T]):
    """One attribute of the driver: its id, its C type's getter and setter,
    and the conversions of its values. Subclasses name the C type."""

    _getter: ClassVar[str] = ""
    _setter: ClassVar[str] = ""
    _ctype: ClassVar[Any] = None

    def __init__(self, attribute_id: int, doc: str, *, writable: bool = True) -> None:
        self.attribute_id = attribute_id
        self.python_name = ""
        kind = _Kind(self._getter, self._ctype)
        convert = self._from_c

        def fget(owner: Any) -> Any:
            return owner._read(kind, attribute_id, convert)

        fset: Optional[Callable[[Any, Any], None]] = None
        if writable:
            setter_name = self._setter
            to_c = self._to_c

            def fset(owner: Any, value: Any) -> None:
                session = owner._session
                setter = getattr(LIB, setter_name)
                with session._lock:
                    status = setter(session._vi, owner._selector, attribute_id,
                                    to_c(owner, value))
                    if status:
                        session._report(status, setter)

        super().__init__(fget, fset, None, doc)
        self.__doc__ = doc  # a property subclass keeps no doc of its own on 3.11

    def __set_name__(self, owner: type, name: str) -> None:
        self.python_name = name

    # How a value goes to C and comes back; None: as ctypes gives it.
    _from_c: Optional[Callable[[Any], Any]] = None

    def _to_c(self, owner: Any, value: Any) -> Any:
        raise NotImplementedError

    if TYPE_CHECKING:  # the types a read gives: a list on a ChannelGroup
        @overload
        def __get__(self, instance: None, owner: Optional[type] = None) -> "_Attribute[_T]": ...

        @overload
        def __get__(self, instance: "ChannelGroup", owner: Optional[type] = None) -> List[_T]: ...

        @overload
        def __get__(self, instance: Any, owner: Optional[type] = None) -> _T: ...

        def __get__(self, instance: Any, owner: Optional[type] = None) -> Any:
            return super().__get__(instance, owner)

        def __set__(self, instance: Any, value: _T) -> None:
            super().__set__(instance, value)


class _Real64(_Attribute[float]):
    _getter = "TARVEK_GetAttributeViReal64"
    _setter = "TARVEK_SetAttributeViReal64"
    _ctype = ViReal64

    def _to_c(self, owner: Any, value: Any) -> float:
        # A float is taken as it is: the path a measurement loop runs most.
        return value if type(value) is float else _real(value, self.python_name)


class _Int32(_Attribute[int]):
    _getter = "TARVEK_GetAttributeViInt32"
    _setter = "TARVEK_SetAttributeViInt32"
    _ctype = ViInt32

    def _to_c(self, owner: Any, value: Any) -> int:
        return _integer(value, self.python_name)


class _Bool(_Attribute[bool]):
    _getter = "TARVEK_GetAttributeViBoolean"
    _setter = "TARVEK_SetAttributeViBoolean"
    _ctype = ViBoolean
    _from_c = bool

    def _to_c(self, owner: Any, value: Any) -> bool:
        return _boolean(value, self.python_name)


class _String(_Attribute[str]):
    _getter = "TARVEK_GetAttributeViString"
    _setter = "TARVEK_SetAttributeViString"

    def _to_c(self, owner: Any, value: Any) -> bytes:
        return _text(value, self.python_name)


class _Handle(_Attribute[int]):
    """A ViSession attribute: a handle of another library."""
    _getter = "TARVEK_GetAttributeViSession"
    _setter = "TARVEK_SetAttributeViSession"
    _ctype = ViSession

    def _to_c(self, owner: Any, value: Any) -> int:
        return _integer(value, self.python_name)


class _Enum(_Attribute[_E]):
    """A ViInt32 attribute with defined values: read as a member of its
    enum, written as a member, its number or its name in any case."""
    _getter = "TARVEK_GetAttributeViInt32"
    _setter = "TARVEK_SetAttributeViInt32"
    _ctype = ViInt32

    def __init__(self, kind: Type[_E], attribute_id: int, doc: str, *,
                 writable: bool = True) -> None:
        self.enum = kind
        self._from_c = lambda value: _enum_result(kind, value)
        super().__init__(attribute_id, doc, writable=writable)

    def _to_c(self, owner: Any, value: Any) -> int:
        return _enum_value(self.enum, value, self.python_name)


class _ChannelNumber(_Enum[_E]):
    """The attribute numbering a channel (SELECTED_CHANNEL): written also as
    a channel name in any case or an OutputChannel."""

    def _to_c(self, owner: Any, value: Any) -> int:
        return cast(int, owner._session._channel_index(value, self.python_name))


def attribute_doc(info: AttributeInfo, summary: str) -> str:
    """The documentation of an attribute: its purpose, then what the
    catalogue says of its unit, range, values, commands and C attribute."""
    lines = [summary, ""]
    if info.unit:
        lines.append(f"Unit: {info.unit}.")
    if info.range:
        lines.append(f"Range: {info.range}.")
    if info.enum is not None:
        lines.append(f"Values: {info.enum.__name__} ({', '.join(info.enum.__members__)}).")
    if info.query or info.command:
        scpi = []
        if info.query:
            scpi.append(f'reads with "{info.query}"')
        if info.command:
            scpi.append(f'writes with "{info.command}"')
        selects = 'after selecting the channel with "INST:SEL", ' if info.channel else ""
        lines.append("SCPI: " + selects + "; ".join(scpi) + ".")
        if info.family:
            family, query, command = info.family
            texts = [f'"{text}"' for text in (query, command) if text]
            lines.append(f"On {family}: {', '.join(texts)}.")
    elif info.note:
        lines.append(f"{info.note}.")
    if info.unsupported:
        lines.append(f"Not available on {info.unsupported}.")
    if info.simulated:
        lines.append(f"Simulated: {info.simulated.replace('`', '')}.")
    access = "read-write" if info.writable else "read-only"
    lines.append(f"C attribute: TARVEK_ATTR_{info.name} ({info.id}, {info.c_type}, {access}).")
    if info.channel:
        lines.append("On a ChannelGroup a write goes to each channel and a read returns a list.")
    return "\n".join(lines)


def document(infos: Iterable[AttributeInfo], *owners: type) -> None:
    """Gives every attribute descriptor of the owners its full
    documentation, and checks that each agrees with its metadata: a
    mismatch would be a generator fault, so it stops the import."""
    by_id: Dict[int, AttributeInfo] = {info.id: info for info in infos}
    for owner in owners:
        for name, member in vars(owner).items():
            if not isinstance(member, _Attribute):
                continue
            info = by_id[member.attribute_id]
            if info.python_name != name or info.writable != (member.fset is not None):
                raise ImportError(f"tarvek: the attribute {name} disagrees with its metadata")
            member.__doc__ = attribute_doc(info, member.__doc__ or "")
