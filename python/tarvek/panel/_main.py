"""The panel's command line: open the instrument, serve the page, print
where it is, run until SIGINT or SIGTERM."""
from __future__ import annotations

import argparse
import asyncio
import os
import signal
import socket
import sys
from typing import List, Optional

from ._station import Station

DESCRIPTION = """Serves a soft front panel of a TARVEK supply to the browser: live
readings and plots, levels and outputs, list mode, errors, an SCPI console
beside the I/O trace and a CSV of every measurement. Several viewers may
watch; one at a time takes control."""


def parse(argv: Optional[List[str]]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="tarvek panel", description=DESCRIPTION)
    parser.add_argument("resource", nargs="?", default="",
                        help="VISA resource or logical name (may be left out with --simulate)")
    parser.add_argument("--bind", default="127.0.0.1",
                        help="address to listen on (default 127.0.0.1); any address but a "
                             "loopback one requires the token printed at start")
    parser.add_argument("--port", type=int, default=8080,
                        help="TCP port (default 8080; 0 picks a free one)")
    parser.add_argument("--simulate", action="store_true", help="simulate the instrument")
    parser.add_argument("--options", default="",
                        help="driver option string, e.g. DriverSetup=Model:6512")
    parser.add_argument("--token", nargs="?", const="", default=None, metavar="TOKEN",
                        help="require a token on loopback too: TOKEN, else "
                             "$TARVEK_PANEL_TOKEN, else a new random one")
    parser.add_argument("--rate", type=float, default=20.0,
                        help="measurements per second (default 20, 1 to 50)")
    parser.add_argument("--io-timeout", type=int, default=1000,
                        help="I/O timeout of each call in ms (default 1000)")
    args = parser.parse_args(argv)
    if not args.resource and not args.simulate:
        parser.error("a RESOURCE is needed unless --simulate is given")
    if not 1.0 <= args.rate <= 50.0:
        parser.error("--rate takes 1 to 50 measurements per second")
    if not 0 <= args.port <= 65535:
        parser.error("--port takes 0 to 65535")
    if not 100 <= args.io_timeout <= 60000:
        parser.error("--io-timeout takes 100 to 60000 ms")
    return args


def driver_options(args: argparse.Namespace) -> str:
    parts = ["Simulate=1"] if args.simulate else []
    if args.options:
        parts.append(args.options)  # DriverSetup runs to the end: the caller's text last
    return ",".join(parts)


async def serve(args: argparse.Namespace) -> int:
    from aiohttp import web

    from ._server import make_app, needs_token, new_token

    # Before anything is printed: whoever read the address may stop us at once.
    stopped = asyncio.Event()
    loop = asyncio.get_running_loop()
    for number in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(number, stopped.set)
    token = None
    if needs_token(args.bind, args.token is not None):
        token = args.token or os.environ.get("TARVEK_PANEL_TOKEN") or new_token()
    station = Station(args.resource, driver_options(args), rate_hz=args.rate,
                      io_timeout_ms=args.io_timeout)
    app = make_app(station, token)
    runner = web.AppRunner(app, handle_signals=False, access_log=None)
    await runner.setup()
    site = web.TCPSite(runner, args.bind, args.port, shutdown_timeout=2.0)
    try:
        await site.start()
    except OSError as error:
        await runner.cleanup()
        print(f"tarvek panel: cannot listen on {args.bind}:{args.port}: {error}",
              file=sys.stderr)
        return 1
    port = runner.addresses[0][1] if runner.addresses else args.port  # when 0 was asked for
    host = args.bind
    if host in ("0.0.0.0", "::", ""):
        host = socket.gethostname()  # every address: name one other machines can use
    host = f"[{host}]" if ":" in host else host
    url = f"http://{host}:{port}/"
    if token:
        url += f"?token={token}"
    print(f"TARVEK panel of {args.resource or 'a simulated supply'} at {url}", flush=True)
    if token:
        print(f"token: {token}", flush=True)
    await stopped.wait()
    await runner.cleanup()
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    args = parse(argv)
    try:
        import aiohttp  # noqa: F401
    except ImportError:
        print("tarvek panel needs aiohttp (Debian package python3-aiohttp)", file=sys.stderr)
        return 1
    return asyncio.run(serve(args))
