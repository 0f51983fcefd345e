"""How the package reports the driver's statuses."""
from __future__ import annotations

from typing import List, Optional, Tuple


class Error(Exception):
    """A call of the driver failed (a negative status).

    ``code`` is the status as a signed 32-bit number (``hex(code & 0xFFFFFFFF)``
    gives the familiar 0xBFFA.... form) and ``description`` the driver's own
    text for it: the status message and what the driver added about this
    failure (the refused value, the channel, the instrument's reply).

    When the instrument itself refused a command (0xBFFA0001, found by the
    status check after it), ``instrument_errors`` holds what its error queue
    said, as (code, message) pairs, and the message ends with them: the queue
    is read for you, so its entries are here and no longer in the queue."""

    def __init__(self, code: int, description: str, function: str = "",
                 instrument_errors: Optional[List[Tuple[int, str]]] = None) -> None:
        self.code = code
        self.description = description
        self.function = function
        self.instrument_errors: List[Tuple[int, str]] = list(instrument_errors or [])
        where = f"{function}: " if function else ""
        text = f"{where}0x{code & 0xFFFFFFFF:08X}: {description}"
        if self.instrument_errors:
            text += " The instrument reports: " + "; ".join(
                f"{number}, \"{message}\"" for number, message in self.instrument_errors) + "."
        super().__init__(text)


class InvalidValueError(Error, ValueError):
    """A value was refused (0xBFFA0010): by the driver, or by the package
    before the call when the driver could not even be handed it (a text with
    a NUL, or one that would end the command it is sent in). It is a
    :class:`tarvek.Error` with the driver's code and text, and a
    ``ValueError``, so that ``except ValueError`` catches every refused value
    whichever side refused it."""


class UnknownChannelError(Error, KeyError):
    """A channel name the instrument does not have. It is a
    :class:`tarvek.Error` and a ``KeyError`` (a missing key of
    ``session.channels``); the message lists the valid names."""

    __str__ = Exception.__str__


INVALID_VALUE = -1074135024  # 0xBFFA0010


def error_for(code: int, description: str, function: str = "",
              instrument_errors: Optional[List[Tuple[int, str]]] = None) -> Error:
    """The exception for a negative status: an InvalidValueError for a
    refused value, an Error otherwise."""
    kind = InvalidValueError if code == INVALID_VALUE else Error
    return kind(code, description, function, instrument_errors)


class DriverWarning(UserWarning):
    """A call of the driver succeeded with a warning (a positive status).

    Reported through :mod:`warnings`, so that it is shown once per place by
    default and can be turned into an exception with
    ``warnings.simplefilter("error", tarvek.DriverWarning)``."""

    def __init__(self, code: int, description: str, function: str = "") -> None:
        self.code = code
        self.description = description
        self.function = function
        where = f"{function}: " if function else ""
        super().__init__(f"{where}0x{code & 0xFFFFFFFF:08X}: {description}")


Error.__module__ = InvalidValueError.__module__ = DriverWarning.__module__ = "tarvek"
UnknownChannelError.__module__ = "tarvek"
