"""The web side of the panel: static page, websocket hub, CSV download.

aiohttp runs one event loop; the instrument lives on the station's worker
thread, which hands its messages to the loop with call_soon_threadsafe. All
state of the hub (clients, the control lock) is touched only on the loop, so
two clients racing for control are served one after the other."""
from __future__ import annotations

import asyncio
import hmac
import ipaddress
import itertools
import json
import secrets
from pathlib import Path
from typing import Any, Dict, Optional

from aiohttp import WSMsgType, web

from ._station import CONTROL_OPERATIONS, OPERATIONS, Message, Station

STATIC = Path(__file__).resolve().parent / "static"
# The files the page is made of; nothing else under the package is served.
STATIC_FILES = {"panel.js": "application/javascript", "panel.css": "text/css"}
TOKEN_COOKIE = "tarvek_panel_token"
MAX_MESSAGE = 64 * 1024
CLIENT_QUEUE = 512  # messages a slow viewer may fall behind before it is dropped

LOOPBACK_NAMES = {"localhost", "localhost.localdomain", "ip6-localhost", "ip6-loopback"}


def is_loopback(host: str) -> bool:
    """Whether a bind address or host name stays on this machine: 127.0.0.0/8,
    ::1 or a name of the local host. Anything else, including 0.0.0.0 and
    ::, reaches other machines and needs a token."""
    name = host.strip().strip("[]").lower()
    if name in LOOPBACK_NAMES:
        return True
    try:
        return ipaddress.ip_address(name).is_loopback
    except ValueError:
        return False


def needs_token(bind: str, token_given: bool) -> bool:
    """A panel bound beyond loopback always requires a token; on loopback
    only when one was asked for."""
    return token_given or not is_loopback(bind)


def new_token() -> str:
    return secrets.token_urlsafe(18)


class Client:
    """One connected page: its websocket and a bounded queue of messages a
    task of its own writes, so a slow page never holds up the others."""

    def __init__(self, number: int, socket: web.WebSocketResponse, name: str) -> None:
        self.number = number
        self.socket = socket
        self.name = name
        self.queue: "asyncio.Queue[Optional[str]]" = asyncio.Queue(CLIENT_QUEUE)
        self.writer: Optional[asyncio.Task[None]] = None

    def send(self, message: Message) -> None:
        try:
            text = json.dumps(message, allow_nan=False, default=str)
        except ValueError:
            text = json.dumps({"type": "notice", "text": "a message could not be encoded"})
        try:
            self.queue.put_nowait(text)
        except asyncio.QueueFull:
            # Too far behind: end the connection; the page reconnects and
            # starts again from the current state.
            if self.writer is not None:
                self.writer.cancel()

    async def write(self) -> None:
        try:
            while True:
                text = await self.queue.get()
                if text is None:
                    return
                await self.socket.send_str(text)
        except (ConnectionError, RuntimeError, asyncio.CancelledError):
            pass
        finally:
            if not self.socket.closed:
                await self.socket.close()


class Hub:
    """Every connected page, and which one holds control."""

    def __init__(self, station: Station) -> None:
        self.station = station
        self.clients: Dict[int, Client] = {}
        self.controller: Optional[int] = None
        self._numbers = itertools.count(1)
        self.loop: Optional[asyncio.AbstractEventLoop] = None

    def next_number(self) -> int:
        return next(self._numbers)

    def broadcast(self, message: Message) -> None:
        for client in list(self.clients.values()):
            client.send(message)

    def publish_threadsafe(self, message: Message) -> None:
        loop = self.loop
        if loop is not None and not loop.is_closed():
            try:
                loop.call_soon_threadsafe(self.broadcast, message)
            except RuntimeError:
                pass  # the loop is shutting down

    def control_message(self) -> Message:
        holder = self.clients.get(self.controller) if self.controller else None
        return {"type": "control", "controller": self.controller,
                "controller_name": holder.name if holder else None,
                "viewers": len(self.clients)}

    def announce_control(self) -> None:
        for client in list(self.clients.values()):
            message = self.control_message()
            message["you_control"] = client.number == self.controller
            client.send(message)

    def take(self, client: Client, force: bool) -> Message:
        if self.controller in (None, client.number) or force:
            previous = self.controller
            self.controller = client.number
            self.announce_control()
            if previous not in (None, client.number) and previous in self.clients:
                self.clients[previous].send({"type": "notice",
                                             "text": f"{client.name} took control"})
            return {"ok": True}
        holder = self.clients.get(self.controller) if self.controller is not None else None
        return {"ok": False, "error": f"{holder.name if holder else 'another viewer'} has control"}

    def release(self, client: Client) -> Message:
        if self.controller == client.number:
            self.controller = None
            self.announce_control()
        return {"ok": True}

    def leave(self, client: Client) -> None:
        self.clients.pop(client.number, None)
        if self.controller == client.number:
            self.controller = None
        self.announce_control()


def _reply(client: Client, request: Any, result: Message) -> None:
    message = {"type": "result", "id": request}
    message.update(result)
    client.send(message)


async def _handle_message(hub: Hub, client: Client, text: str) -> None:
    try:
        message = json.loads(text)
    except ValueError:
        _reply(client, None, {"ok": False, "error": "not JSON"})
        return
    if not isinstance(message, dict):
        _reply(client, None, {"ok": False, "error": "a message is a JSON object"})
        return
    request = message.get("id")
    if not (request is None or isinstance(request, (int, str))) or \
            (isinstance(request, str) and len(request) > 64):
        request = None
    op = message.get("op")
    args = message.get("args", {})
    if not isinstance(op, str) or not isinstance(args, dict):
        _reply(client, request, {"ok": False, "error": "a message has an op and args"})
        return
    if op == "take_control":
        _reply(client, request, hub.take(client, message.get("force") is True))
        return
    if op == "release_control":
        _reply(client, request, hub.release(client))
        return
    if op == "ping":
        _reply(client, request, {"ok": True})
        return
    if op not in OPERATIONS:
        _reply(client, request, {"ok": False, "error": f"unknown operation {op[:40]!r}"})
        return
    if op in CONTROL_OPERATIONS and hub.controller != client.number:
        holder = hub.clients.get(hub.controller) if hub.controller else None
        why = f"{holder.name} has control" if holder else "nobody has control"
        _reply(client, request, {"ok": False,
                                 "error": f"read-only: take control first ({why})"})
        return
    loop = asyncio.get_running_loop()

    def done(result: Message) -> None:
        loop.call_soon_threadsafe(_reply, client, request, result)

    if not hub.station.submit(op, args, done):
        _reply(client, request, {"ok": False, "error": "busy: too many commands waiting"})


def _authorized(request: web.Request) -> bool:
    token = request.app["token"]
    if token is None:
        return True
    given = request.query.get("token") or request.cookies.get(TOKEN_COOKIE) or ""
    return hmac.compare_digest(given.encode(), token.encode())


def _host_name(header: str) -> str:
    """The host of a Host header, without its port ("[::1]:8080" is "::1")."""
    if header.startswith("["):
        return header[1:].split("]", 1)[0]
    return header.rsplit(":", 1)[0] if header.count(":") == 1 else header


def _host_allowed(request: web.Request) -> bool:
    """Without a token, only requests naming this machine by a loopback name
    or address are served: a page of another site that resolves its own name
    to 127.0.0.1 (DNS rebinding) sends that name as Host."""
    return request.app["token"] is not None or is_loopback(_host_name(request.host))


def _origin_allowed(request: web.Request) -> bool:
    """A websocket opened by a page of another origin (any web site the
    browser has open) must not drive the instrument."""
    origin = request.headers.get("Origin")
    if origin is None:
        return True  # not a browser: a script of the user's own
    return origin in (f"http://{request.host}", f"https://{request.host}")


@web.middleware
async def _guard(request: web.Request, handler: Any) -> web.StreamResponse:
    if not _host_allowed(request):
        return web.Response(status=403, text="This panel answers to loopback names only.\n")
    if not _authorized(request):
        return web.Response(status=401, text="This panel needs its token: open the URL "
                            "printed when it started.\n")
    response = await handler(request)
    if request.app["token"] is not None and request.query.get("token"):
        response.set_cookie(TOKEN_COOKIE, request.app["token"], httponly=True,
                            samesite="Strict")
    response.headers.setdefault("Cache-Control", "no-store")
    response.headers.setdefault("X-Content-Type-Options", "nosniff")
    response.headers.setdefault("Content-Security-Policy",
                                "default-src 'self'; connect-src 'self' ws: wss:; "
                                "img-src 'self' data:; frame-ancestors 'none'")
    return response


async def _index(request: web.Request) -> web.StreamResponse:
    return web.FileResponse(STATIC / "index.html",
                            headers={"Content-Type": "text/html; charset=utf-8"})


async def _static(request: web.Request) -> web.StreamResponse:
    name = request.match_info["name"]
    if name not in STATIC_FILES:
        raise web.HTTPNotFound()
    return web.FileResponse(STATIC / name, headers={"Content-Type": STATIC_FILES[name]})


async def _csv(request: web.Request) -> web.Response:
    station: Station = request.app["station"]
    text = await asyncio.get_running_loop().run_in_executor(None, station.csv_text)
    return web.Response(text=text, content_type="text/csv", charset="utf-8",
                        headers={"Content-Disposition":
                                 'attachment; filename="tarvek-measurements.csv"'})


async def _state(request: web.Request) -> web.Response:
    station: Station = request.app["station"]
    hub: Hub = request.app["hub"]
    with station._guard:
        latest = station.latest
    body = {"identity": station.identity, "channels": station.channels,
            "connected": station.connected, "status": station.status_text,
            "latest": latest, "control": hub.control_message(),
            "list": station.list_run.describe() if station.list_run else None}
    return web.json_response(body)


async def _socket(request: web.Request) -> web.StreamResponse:
    if not _origin_allowed(request):
        return web.Response(status=403, text="Cross-origin websocket refused.\n")
    hub: Hub = request.app["hub"]
    socket = web.WebSocketResponse(heartbeat=10.0, max_msg_size=MAX_MESSAGE)
    await socket.prepare(request)
    number = hub.next_number()
    name = f"viewer {number}"
    client = Client(number, socket, name)
    hub.clients[number] = client
    client.writer = asyncio.ensure_future(client.write())
    hello = {"type": "hello", "you": number, "name": name}
    hello.update(hub.station.hello())
    client.send(hello)
    hub.announce_control()
    try:
        async for message in socket:
            if message.type == WSMsgType.TEXT:
                await _handle_message(hub, client, message.data)
            elif message.type == WSMsgType.BINARY:
                _reply(client, None, {"ok": False, "error": "binary messages are not used"})
            elif message.type == WSMsgType.ERROR:
                break
    finally:
        hub.leave(client)
        try:
            client.queue.put_nowait(None)
        except asyncio.QueueFull:
            client.writer.cancel()
        try:
            await asyncio.wait_for(asyncio.shield(client.writer), 2.0)
        except (asyncio.TimeoutError, asyncio.CancelledError):
            client.writer.cancel()
    return socket


def make_app(station: Station, token: Optional[str]) -> web.Application:
    app = web.Application(middlewares=[_guard], client_max_size=MAX_MESSAGE)
    hub = Hub(station)
    app["station"] = station
    app["hub"] = hub
    app["token"] = token
    station.publish = hub.publish_threadsafe

    async def on_startup(app: web.Application) -> None:
        hub.loop = asyncio.get_running_loop()
        station.start()

    async def on_shutdown(app: web.Application) -> None:
        for client in list(hub.clients.values()):
            await client.socket.close()

    async def on_cleanup(app: web.Application) -> None:
        await asyncio.get_running_loop().run_in_executor(None, station.stop)

    app.on_startup.append(on_startup)
    app.on_shutdown.append(on_shutdown)
    app.on_cleanup.append(on_cleanup)
    app.router.add_get("/", _index)
    app.router.add_get("/static/{name}", _static)
    app.router.add_get("/ws", _socket)
    app.router.add_get("/log.csv", _csv)
    app.router.add_get("/api/state", _state)
    return app


__all__ = ["make_app", "is_loopback", "needs_token", "new_token", "Hub"]
