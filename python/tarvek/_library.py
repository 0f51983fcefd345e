"""Finding and loading the driver library, and the C types of its API.

The library is loaded on first use, not at import: ``import tarvek`` works
on a machine without libTARVEK_64.so (to read the documentation, to type
check a program, to build a wheel), and the first call that needs the
driver, normally constructing a session, loads it or raises
:class:`LibraryError` saying where it looked."""
from __future__ import annotations

import ctypes
import os
import sysconfig
import threading
from pathlib import Path
from typing import Any, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

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


class LibraryError(OSError):
    """The driver library cannot be loaded: it is not built or installed
    where the package looks, or TARVEK_LIBRARY names something else. The
    message says where the package looked and how to point it at one."""


LibraryError.__module__ = "tarvek"


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


class _Library:
    """The driver library as ``LIB.TARVEK_<name>``: loaded by the first
    such lookup, each function given its C prototype (declared by the
    generated layer) when first looked up, then kept as an attribute so
    that later lookups cost what a plain attribute does."""

    def __init__(self) -> None:
        self._cdll: Optional[ctypes.CDLL] = None
        self._load_lock = threading.Lock()
        self._prototypes: Dict[str, Sequence[Any]] = {}

    def declare(self, prototypes: Iterable[Tuple[str, Sequence[Any]]]) -> None:
        """Records the argument types of exported functions, by C name."""
        for name, argtypes in prototypes:
            self._prototypes[name] = argtypes

    def load(self) -> ctypes.CDLL:
        """The loaded library, loading it now if it is not yet."""
        with self._load_lock:
            if self._cdll is None:
                path = library_path()
                try:
                    self._cdll = ctypes.CDLL(path)
                except OSError as error:
                    if os.environ.get("TARVEK_LIBRARY"):
                        where = "TARVEK_LIBRARY names it; point it at the driver library."
                    else:
                        searched: List[str] = [str(candidate) for candidate in _candidates()]
                        where = (f"Build the TARVEK_64 target, install the driver, or set "
                                 f"TARVEK_LIBRARY to the path of {LIBRARY_NAME}. Looked in: " +
                                 ", ".join(searched))
                    raise LibraryError(f"tarvek: cannot load the driver library {path!r} "
                                       f"({error}). {where}") from None
            return self._cdll

    @property
    def loaded(self) -> bool:
        """Whether the library has been loaded."""
        return self._cdll is not None

    def __getattr__(self, name: str) -> Any:
        # Only called for names not yet kept: load, prototype, keep.
        if name.startswith("_"):
            raise AttributeError(name)
        function = getattr(self.load(), name)
        argtypes = self._prototypes.get(name)
        if argtypes is not None:
            function.argtypes = list(argtypes)
            function.restype = ViStatus
        setattr(self, name, function)
        return function


# Typed as Any: every function of the C API is looked up by name.
LIB: Any = _Library()
