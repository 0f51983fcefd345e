"""The driver options of a session: the IVI-Python ``options`` dict (or the
driver's option string) and its translation into the option string that
TARVEK_InitWithOptions reads."""
from __future__ import annotations

import re
from typing import Any, List, Mapping, TypedDict, Union

from ._access import _boolean

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
