"""How the package reports the driver's statuses."""
from __future__ import annotations


class Error(Exception):
    """A call of the driver failed (a negative status).

    ``code`` is the status as a signed 32-bit number (``hex(code & 0xFFFFFFFF)``
    gives the familiar 0xBFFA.... form) and ``description`` the driver's own
    text for it: the status message and what the driver added about this
    failure (the refused value, the channel, the instrument's reply)."""

    def __init__(self, code: int, description: str, function: str = "") -> None:
        self.code = code
        self.description = description
        self.function = function
        where = f"{function}: " if function else ""
        super().__init__(f"{where}0x{code & 0xFFFFFFFF:08X}: {description}")


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
