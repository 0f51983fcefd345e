"""The IVI-Python base classes every IVI-Python driver implements: the
utility interface (identity, status checking, instrument errors, reset) and
direct I/O. Their members are exactly the IVI-Python names and types; the
package's own classes (TarvekUtility, TarvekDirectIo) implement them."""
from __future__ import annotations

from abc import ABC, abstractmethod
from typing import Any, Collection, NamedTuple, Optional, Tuple


class ErrorQueryResult(NamedTuple):
    """One entry of the instrument's error queue: its code (0: no error) and
    message. ``error_code`` and ``error_message`` are the same values under
    the names of TARVEK_error_query's outputs."""
    code: int
    message: str

    @property
    def error_code(self) -> int:
        return self.code

    @property
    def error_message(self) -> str:
        return self.message

    def __str__(self) -> str:
        return f'{self.code}, "{self.message}"'


class IviUtility(ABC):
    """The driver's identity and the operations every IVI driver has."""

    __slots__ = ()

    @property
    @abstractmethod
    def driver_version(self) -> str: ...

    @property
    @abstractmethod
    def driver_vendor(self) -> str: ...

    @property
    @abstractmethod
    def instrument_manufacturer(self) -> str: ...

    @property
    @abstractmethod
    def instrument_model(self) -> str: ...

    @property
    @abstractmethod
    def query_instrument_status_enabled(self) -> bool: ...

    @query_instrument_status_enabled.setter
    @abstractmethod
    def query_instrument_status_enabled(self, enabled: bool) -> None: ...

    @property
    @abstractmethod
    def simulation_enabled(self) -> bool: ...

    @abstractmethod
    def error_query(self) -> Optional[ErrorQueryResult]: ...

    @abstractmethod
    def error_query_all(self) -> Collection[ErrorQueryResult]: ...

    @abstractmethod
    def raise_on_device_error(self) -> None: ...

    @abstractmethod
    def reset(self) -> None: ...

    @property
    @abstractmethod
    def supported_instrument_models(self) -> Tuple[str, ...]: ...


class IviDirectIo(ABC):
    """Messages sent to and read from the instrument unchanged."""

    __slots__ = ()

    @property
    @abstractmethod
    def session(self) -> Any: ...

    @property
    @abstractmethod
    def io_timeout_ms(self) -> int: ...

    @io_timeout_ms.setter
    @abstractmethod
    def io_timeout_ms(self, timeout_ms: int) -> None: ...

    @abstractmethod
    def read_bytes(self) -> bytes: ...

    @abstractmethod
    def read_string(self) -> str: ...

    @abstractmethod
    def write_bytes(self, data: bytes) -> None: ...

    @abstractmethod
    def write_string(self, data: str) -> None: ...


for _public in (ErrorQueryResult, IviUtility, IviDirectIo):
    _public.__module__ = "tarvek"
