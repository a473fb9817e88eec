"""Live pages: components in this process, shown in a browser that follows their changes.

Needs the ``live`` extra (``pip install "tavo[live]"``, which brings aiohttp).

A ``LiveServer`` serves one document per browser page. For each HTTP load it
makes a new ``tavo.html.Page`` and calls ``render(page)``, which builds that
page's own components and returns the HTML, start tags from
``page.start_tag``. The server adds the client script (``live.js``, shipped
with the package) before ``</body>``. The script opens a WebSocket back to the
server, sends the events the page's handler code names with ``tavo.send``
and applies the updates the server sends back, with ``setAttribute`` and
``removeAttribute``::

    from tavo.live import LiveServer

    def render(page):
        card = Card(id="intro")
        card.bind(on_click=lambda card, *args: setattr(card, "width", "320px"))
        return f"<!DOCTYPE html><body>{page.start_tag(card, 'div')}Hello</div></body>"

    LiveServer(render, port=8000).run()

A message from the page is a JSON object ``{"element": ID, "event": NAME,
"args": [...]}``: the element by the page's identifier, a client event of its
component (one in ``component.client_events``) and the arguments. The server
calls ``component.dispatch(NAME, *args)`` and answers with the page's updates.
It refuses, with one log line each (logger ``tavo.live``) and without
dispatching anything, a message that is not such an object, names an unknown
element or an event the component did not register for the client, or is
longer than 64 KiB; the connection stays open. It refuses a WebSocket whose
``Origin`` is not the origin the page was loaded from, and any request whose
``Host`` is not one of the server's own names (a page of another site cannot
reach the server under a name it controls). When the WebSocket closes, the
page is closed and its components released; a page loaded but never connected
is closed after ``connect_timeout`` seconds.

Handlers run on the server's event loop, one message at a time per server.
"""
from __future__ import annotations

import asyncio
import itertools
import json
import logging
import secrets
import socket as sockets
import threading
from collections.abc import Callable
from dataclasses import dataclass, field
from importlib import resources
from typing import Any, TypeVar

from aiohttp import WSMsgType, web

import tavo.html

log = logging.getLogger("tavo.live")

# The longest message a page may send, in bytes of UTF-8.
MAX_MESSAGE = 64 * 1024
# Longer frames than this close the connection in the library itself, before
# any of our code sees them.
MAX_FRAME = 1024 * 1024
SCRIPT_PATH = "/tavo/live.js"
SOCKET_PATH = "/tavo/socket"
LOOPBACK_NAMES = ("127.0.0.1", "localhost", "[::1]")

T = TypeVar("T")


class Refused(ValueError):
    """A message the server does not act on; its text is the log line's reason."""


def client_script() -> str:
    """The client script's text (live.js, shipped in the package)."""
    return resources.files("tavo").joinpath("live.js").read_text(encoding="utf-8")


def _short(value: Any, limit: int = 80) -> str:
    """A repr for a log line: one line, cut to `limit` characters."""
    text = repr(value)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not JSON")


def parse_message(data: str | bytes) -> tuple[str, str, list[Any]]:
    """The element id, event name and arguments of a message from a page; Refused when it is not one."""
    if isinstance(data, bytes):
        raise Refused("a binary message (messages are JSON text)")
    size = len(data.encode("utf-8", "surrogatepass"))
    if size > MAX_MESSAGE:
        raise Refused(f"a message of {size} bytes (at most {MAX_MESSAGE})")
    try:
        message = json.loads(data, parse_constant=_no_constant)
    except (ValueError, RecursionError) as error:
        raise Refused(f"a message that is not JSON ({_short(str(error))})") from None
    if not isinstance(message, dict):
        raise Refused(f"a message that is not a JSON object (got {type(message).__name__})")
    extra = set(message) - {"element", "event", "args"}
    if extra:
        raise Refused(f"a message with unknown fields {_short(sorted(extra))}")
    element, event, args = message.get("element"), message.get("event"), message.get("args", [])
    if not isinstance(element, str):
        raise Refused(f"a message whose element is not a text (got {_short(element)})")
    if not isinstance(event, str):
        raise Refused(f"a message whose event is not a text (got {_short(event)})")
    if not isinstance(args, list):
        raise Refused(f"a message whose args are not a list (got {_short(args)})")
    return element, event, args


@dataclass(eq=False)
class Session:
    """One browser page: its `Page`, the origin it was loaded from, and its WebSocket once connected."""

    number: int
    token: str
    origin: str
    page: tavo.html.Page
    socket: web.WebSocketResponse | None = None
    # Numbers the server's messages to the page; the client keeps the last it applied.
    sent: int = 0
    expiry: asyncio.TimerHandle | None = field(default=None, repr=False)

    def __str__(self) -> str:
        return f"page {self.number}"

    def batch(self, **extra: Any) -> dict[str, Any]:
        """The next message to the page: its updates since the last one (and `extra`).

        When a rendering fails, the batch is empty and says so; the page keeps
        the updates for the next batch.
        """
        self.sent += 1
        try:
            changed = self.page.updates()
        except Exception as error:
            log.exception("%s: collecting the updates failed", self)
            return {"seq": self.sent, "updates": [], **extra, "error": f"{type(error).__name__} in a rendering"}
        updates = [[update.element, dict(update.set), list(update.remove)] for update in changed]
        return {"seq": self.sent, "updates": updates, **extra}

    def handle(self, data: str | bytes) -> dict[str, Any]:
        """Act on one message from the page; the answer to send back."""
        try:
            element, event, args = parse_message(data)
            try:
                component = self.page.component(element)
            except KeyError:
                raise Refused(f"an event for an unknown element {_short(element)}") from None
            if event not in component.client_events:
                raise Refused(
                    f"event {_short(event)} is not a client event of element {_short(element)} "
                    f"({type(component).__name__}; its client events: {', '.join(component.client_events) or 'none'})"
                )
        except Refused as refusal:
            log.warning("%s: refused %s", self, refusal)
            self.sent += 1
            return {"seq": self.sent, "refused": str(refusal)}
        try:
            component.dispatch(event, *args)
        except Exception as error:
            # What the handlers assigned before the error still goes to the page.
            log.exception("%s: handler of %s on element %s failed", self, _short(event), _short(element))
            return self.batch(error=f"{type(error).__name__} in the handler of {event}")
        return self.batch()


class LiveServer:
    """Serves `render`'s pages on `host`:`port` (0: a free port) and keeps each one live over a WebSocket.

    `render(page)` is called once per HTTP load with a new `tavo.html.Page`
    and returns the page's HTML (a whole document or a body's content);
    every component it puts on the page must be fresh, since a component is
    on at most one page.
    """

    def __init__(
        self,
        render: Callable[[tavo.html.Page], str],
        *,
        host: str = "127.0.0.1",
        port: int = 0,
        id_attribute: str = "data-tavo-id",
        connect_timeout: float = 30.0,
    ) -> None:
        self.render = render
        self.host = host
        self.port = port
        self.id_attribute = id_attribute
        self.connect_timeout = connect_timeout
        # The open pages by token: loaded, then connected, until their WebSocket closes.
        self.sessions: dict[str, Session] = {}
        self._numbers = itertools.count(1)
        self._runner: web.AppRunner | None = None
        self.app = web.Application()
        self.app.router.add_get("/", self._serve_page)
        self.app.router.add_get(SCRIPT_PATH, self._serve_script)
        self.app.router.add_get(SOCKET_PATH, self._serve_socket)

    @property
    def address(self) -> str:
        """The page's address, once the server has started."""
        host = f"[{self.host}]" if ":" in self.host else self.host
        return f"http://{host}:{self.port}/"

    def _hosts(self) -> set[str]:
        names = {self.host, f"[{self.host}]"} if ":" in self.host else {self.host}
        if self.host in ("127.0.0.1", "::1", "localhost"):
            names.update(LOOPBACK_NAMES)
        return {f"{name}:{self.port}" for name in names}

    def _check_host(self, request: web.Request) -> str:
        """The origin the request was made to; refuses a Host that is not one of this server's names."""
        host = request.headers.get("Host", "")
        if host not in self._hosts():
            log.warning("refused a request to %s for Host %s (not this server's)", request.path, _short(host))
            raise web.HTTPMisdirectedRequest(text="unknown host\n")
        return f"http://{host}"

    async def _serve_page(self, request: web.Request) -> web.Response:
        origin = self._check_host(request)
        page = tavo.html.Page(id_attribute=self.id_attribute)
        try:
            document = self.render(page)
        except Exception:
            page.close()
            raise
        session = Session(next(self._numbers), secrets.token_urlsafe(18), origin, page)
        self.sessions[session.token] = session
        loop = asyncio.get_running_loop()
        session.expiry = loop.call_later(self.connect_timeout, self._expire, session)
        log.info("%s loaded (%d components)", session, len(page))
        return web.Response(
            text=self._with_client(document, session),
            content_type="text/html",
            charset="utf-8",
            headers={"Cache-Control": "no-store"},
        )

    def _with_client(self, document: str, session: Session) -> str:
        config = {"socket": f"{SOCKET_PATH}?page={session.token}", "attribute": self.id_attribute}
        encoded = json.dumps(config).replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")
        tags = (
            f'<script type="application/json" id="tavo-live">{encoded}</script>\n'
            f'<script src="{SCRIPT_PATH}"></script>\n'
        )
        end = document.lower().rfind("</body>")
        if end < 0:
            return document + "\n" + tags
        return document[:end] + tags + document[end:]

    async def _serve_script(self, request: web.Request) -> web.Response:
        self._check_host(request)
        return web.Response(text=client_script(), content_type="text/javascript", charset="utf-8")

    def _expire(self, session: Session) -> None:
        if session.socket is None and self.sessions.get(session.token) is session:
            log.info("%s never connected; closed", session)
            self._drop(session)

    def _drop(self, session: Session) -> None:
        if self.sessions.get(session.token) is session:
            del self.sessions[session.token]
        if session.expiry is not None:
            session.expiry.cancel()
        session.page.close()

    async def _serve_socket(self, request: web.Request) -> web.StreamResponse:
        self._check_host(request)
        session = self.sessions.get(request.query.get("page", ""))
        origin = request.headers.get("Origin")
        if session is None:
            log.warning("refused a WebSocket for an unknown page")
            raise web.HTTPNotFound(text="unknown page\n")
        if origin != session.origin:
            log.warning("%s: refused a WebSocket from Origin %s (the page's is %s)", session, _short(origin), session.origin)
            raise web.HTTPForbidden(text="foreign origin\n")
        if session.socket is not None:
            log.warning("%s: refused a second WebSocket (the page is connected)", session)
            raise web.HTTPConflict(text="page already connected\n")
        socket = web.WebSocketResponse(max_msg_size=MAX_FRAME, heartbeat=30.0)
        await socket.prepare(request)
        session.socket = socket
        if session.expiry is not None:
            session.expiry.cancel()
        log.info("%s connected", session)
        try:
            # What changed between the load and the connection.
            await socket.send_json(session.batch())
            async for message in socket:
                if message.type in (WSMsgType.TEXT, WSMsgType.BINARY):
                    await socket.send_json(session.handle(message.data))
                elif message.type == WSMsgType.ERROR:
                    log.warning("%s: connection failed: %s", session, socket.exception())
        finally:
            self._drop(session)
            log.info("%s disconnected; closed with its components", session)
        return socket

    async def push(self, session: Session) -> int:
        """Send a page the updates of changes made outside its events; the number of the batch sent."""
        if session.socket is None or session.socket.closed:
            raise ConnectionError(f"{session} is not connected")
        batch = session.batch()
        await session.socket.send_json(batch)
        return int(batch["seq"])

    async def start(self) -> str:
        """Start serving; returns the address."""
        family = sockets.AF_INET6 if ":" in self.host else sockets.AF_INET
        listener = sockets.socket(family, sockets.SOCK_STREAM)
        try:
            listener.setsockopt(sockets.SOL_SOCKET, sockets.SO_REUSEADDR, 1)
            listener.bind((self.host, self.port))
        except OSError:
            listener.close()
            raise
        self.port = listener.getsockname()[1]
        self._runner = web.AppRunner(self.app, access_log=None)
        await self._runner.setup()
        await web.SockSite(self._runner, listener).start()
        return self.address

    async def stop(self) -> None:
        """Stop serving; closes every open page."""
        for session in list(self.sessions.values()):
            if session.socket is not None:
                await session.socket.close()
            self._drop(session)
        if self._runner is not None:
            await self._runner.cleanup()
            self._runner = None

    def run(self, announce: Callable[[str], None] = print) -> None:
        """Serve until interrupted; `announce` is given the address once it serves."""

        async def serve() -> None:
            announce(await self.start())
            try:
                await asyncio.Event().wait()
            finally:
                await self.stop()

        try:
            asyncio.run(serve())
        except KeyboardInterrupt:
            pass


class ServerThread:
    """A `LiveServer` on an event loop of its own thread, for code that is not async (tests, notebooks).

    Components belong to the server's loop: change them through `call`.
    """

    def __init__(self, server: LiveServer) -> None:
        self.server = server
        self.loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self.loop.run_forever, name="tavo-live", daemon=True)

    def __enter__(self) -> ServerThread:
        self._thread.start()
        asyncio.run_coroutine_threadsafe(self.server.start(), self.loop).result(30)
        return self

    def __exit__(self, *exc: object) -> None:
        try:
            asyncio.run_coroutine_threadsafe(self.server.stop(), self.loop).result(30)
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self._thread.join(30)
            self.loop.close()

    def call(self, function: Callable[..., T], *args: Any) -> T:
        """`function(*args)` run on the server's loop; its result."""

        async def run() -> T:
            return function(*args)

        return asyncio.run_coroutine_threadsafe(run(), self.loop).result(30)

    def push(self, session: Session) -> int:
        """`LiveServer.push` from this thread."""
        return asyncio.run_coroutine_threadsafe(self.server.push(session), self.loop).result(30)
