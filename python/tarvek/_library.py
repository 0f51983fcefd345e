"""Finding and loading the driver library, and the C types of its API."""
from __future__ import annotations

import ctypes
import os
import sysconfig
from pathlib import Path
from typing import Iterator, List

LIBRARY_NAME = "libTARVEK_64.so"

# The IVI and VISA base types, as TARVEK.h declares them.
ViStatus = ctypes.c_int32
ViSession = ctypes.c_uint32
ViInt16 = ctypes.c_int16
ViInt32 = ctypes.c_int32
ViInt64 = ctypes.c_int64
ViReal64 = ctypes.c_double
ViBoolean = ctypes.c_uint16
ViAttr = ctypes.c_uint32
ViString = ctypes.c_char_p


def _candidates() -> Iterator[Path]:
    """Where a library belonging to this package can be: the build tree that
    generated the package (<build>/python/tarvek beside <build>/lib), or the
    installation prefix the package was installed under."""
    here = Path(__file__).resolve().parent
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    for ancestor in list(here.parents)[:6]:
        for libdir in ("lib", "lib64", f"lib/{multiarch}" if multiarch else ""):
            if libdir:
                yield ancestor / libdir / LIBRARY_NAME


def library_path() -> str:
    """The library the package loads: $TARVEK_LIBRARY when set, else the one
    of the same build or installation, else whatever the dynamic loader finds
    under its own name."""
    explicit = os.environ.get("TARVEK_LIBRARY")
    if explicit:
        return explicit
    for candidate in _candidates():
        if candidate.is_file():
            return str(candidate)
    return LIBRARY_NAME


def load() -> ctypes.CDLL:
    path = library_path()
    try:
        return ctypes.CDLL(path)
    except OSError as error:
        searched: List[str] = [str(candidate) for candidate in _candidates()]
        raise ImportError(
            f"tarvek: cannot load the driver library {path!r} ({error}). Build the "
            f"TARVEK_64 target, install the driver, or set TARVEK_LIBRARY to the path of "
            f"{LIBRARY_NAME}. Looked in: " + ", ".join(searched)) from error


LIB = load()
