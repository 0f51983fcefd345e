"""LAN discovery: ``tarvek.discover()`` lists the instruments that answer on
the networks this machine is attached to, with their identity, as the
command-line tool's ``tarvek discover --json`` reports them (the search is
libtkvisa's: a VXI-11 broadcast and one-shot multicast DNS queries)."""
from __future__ import annotations

import json
import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path
from typing import Iterator, List, Optional, Tuple

from ._library import library_path

PROGRAM_NAME = "tarvek"


@dataclass(frozen=True)
class DiscoveredInstrument:
    """One instrument found on the LAN. ``identity`` tells where the
    manufacturer, model, serial and firmware came from: ``"idn"`` (its
    *IDN? reply), ``"lxi"`` (its LXI identification document), or None when
    it gave neither (the four are then empty)."""

    address: str
    resources: Tuple[str, ...]
    manufacturer: str
    model: str
    serial: str
    firmware: str
    protocols: Tuple[str, ...]  # of "vxi11", "hislip", "socket", "lxi"
    identity: Optional[str]

    @property
    def resource(self) -> str:
        """The name to open it with: its first resource (INSTR before SOCKET)."""
        return self.resources[0] if self.resources else ""


def _candidates() -> Iterator[Path]:
    """The tool of the same build or installation as the driver library:
    <build>/bin beside <build>/lib, <prefix>/bin beside <prefix>/lib."""
    library = Path(library_path())
    if library.is_absolute():
        for ancestor in list(library.parents)[:3]:
            yield ancestor / "bin" / PROGRAM_NAME


def program_path() -> str:
    """$TARVEK_CLI when set, else the tool beside the driver library, else the
    one on PATH."""
    explicit = os.environ.get("TARVEK_CLI")
    if explicit:
        return explicit
    for candidate in _candidates():
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which(PROGRAM_NAME)
    if found is None:
        raise FileNotFoundError(
            "tarvek.discover: the tarvek program is neither beside the driver library nor on "
            "PATH; set TARVEK_CLI to its path")
    return found


def discover(timeout: float = 1.0) -> List[DiscoveredInstrument]:
    """The LAN instruments that answer within ``timeout`` seconds (0.1 to 60),
    one per instrument, ordered by address."""
    if not 0.1 <= timeout <= 60:
        raise ValueError(f"timeout must be from 0.1 to 60 seconds, not {timeout}")
    result = subprocess.run([program_path(), "discover", "--json", "--timeout", str(timeout)],
                            capture_output=True, text=True, timeout=timeout + 30, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"tarvek discover failed: {result.stderr.strip()}")
    found = json.loads(result.stdout)["instruments"]
    return [DiscoveredInstrument(address=item["address"], resources=tuple(item["resources"]),
                                 manufacturer=item["manufacturer"], model=item["model"],
                                 serial=item["serial"], firmware=item["firmware"],
                                 protocols=tuple(item["protocols"]), identity=item["identity"])
            for item in found]
