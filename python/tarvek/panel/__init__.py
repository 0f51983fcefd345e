"""tarvek.panel: a soft front panel of a TARVEK supply in the browser.

    python3 -m tarvek.panel TCPIP::127.0.0.1::5025::SOCKET --port 8080
    tarvek panel TCPIP::127.0.0.1::5025::SOCKET          # the same, from the CLI

One worker thread owns the driver session (``_station``); an aiohttp server
(``_server``) serves the page, a websocket per viewer and the CSV of the
measurement log. Needs Debian's python3-aiohttp."""
from ._station import Station, is_io_failure

__all__ = ["Station", "is_io_failure", "main"]


def main(argv=None) -> int:  # type: ignore[no-untyped-def]
    from ._main import main as run
    return run(argv)
