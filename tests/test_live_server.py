"""The live server without a browser: messages, refusals, origins and hosts, pages dropped with their connection.

A WebSocket client from aiohttp plays the page (tests/test_live.py drives a
real browser). Skips without aiohttp, the live extra.
"""
import asyncio
import gc
import json
import logging
import os
import re
import subprocess
import sys
import time
import urllib.error
import urllib.request
import weakref

import pytest

import tavo
from tavo import demo
from tavo.core._attributes import _Attribute

pytest.importorskip("aiohttp", reason="the live extra (aiohttp) is not installed")
import aiohttp  # noqa: E402

from tavo.live import MAX_MESSAGE, LiveServer, Refused, ServerThread, parse_message  # noqa: E402

pytestmark = pytest.mark.no_leakcheck  # threads, sockets and event loops


@pytest.mark.parametrize(
    "data, reason",
    [
        (b'{"element": "1", "event": "on_click"}', "a binary message"),
        ("{", "not JSON"),
        ("", "not JSON"),
        ("[" * 30_000 + "]" * 30_000, "not JSON"),
        ('{"element": "1", "event": "on_click", "args": [NaN]}', "not JSON"),
        ('{"element": "1", "event": "on_click", "args": [Infinity]}', "not JSON"),
        ('["1", "on_click"]', "not a JSON object (got list)"),
        ('"on_click"', "not a JSON object (got str)"),
        ('{"event": "on_click"}', "element is not a text (got None)"),
        ('{"element": 1, "event": "on_click"}', "element is not a text (got 1)"),
        ('{"element": "1", "event": ["on_click"]}', "event is not a text"),
        ('{"element": "1", "event": "on_click", "args": {"a": 1}}', "args are not a list"),
        ('{"element": "1", "event": "on_click", "to": "all"}', "unknown fields ['to']"),
        (json.dumps({"element": "1", "event": "on_click", "args": ["x" * MAX_MESSAGE]}), "bytes (at most 65536)"),
        # Counted in bytes of UTF-8, not in characters.
        (json.dumps({"element": "1", "event": "on_click", "args": ["\u00e9" * 33_000]}, ensure_ascii=False), "bytes"),
    ],
    ids=lambda value: str(value)[:30],
)
def test_malformed_messages_are_refused(data, reason):
    with pytest.raises(Refused, match=re.escape(reason)):
        parse_message(data)


AT_LIMIT = MAX_MESSAGE - len(json.dumps({"element": "1", "event": "e", "args": [""]}))


@pytest.mark.parametrize(
    "data, parsed",
    [
        ('{"element": "1", "event": "on_click"}', ("1", "on_click", [])),
        ('{"element": "7", "event": "on_input", "args": [{"text": "<b>"}]}', ("7", "on_input", [{"text": "<b>"}])),
        # Exactly at the limit.
        (json.dumps({"element": "1", "event": "e", "args": ["x" * AT_LIMIT]}), ("1", "e", ["x" * AT_LIMIT])),
    ],
    ids=["no args", "args", "at the limit"],
)
def test_well_formed_messages_are_read(data, parsed):
    assert len(data.encode()) <= MAX_MESSAGE
    assert parse_message(data) == parsed


@pytest.fixture
def live(caplog):
    caplog.set_level(logging.INFO, logger="tavo.live")
    with ServerThread(LiveServer(demo.live_page, connect_timeout=60)) as thread:
        yield thread


class Loaded:
    """A page loaded over HTTP: the server's session for it and its elements' page identifiers by id."""

    def __init__(self, thread, host=None):
        request = urllib.request.Request(thread.server.address)
        if host is not None:
            request.add_header("Host", host)
        with urllib.request.urlopen(request, timeout=10) as response:
            self.html = response.read().decode()
        found = re.search(r'<script type="application/json" id="tavo-live">(.*?)</script>', self.html)
        token = json.loads(found.group(1))["socket"].rpartition("page=")[2]
        self.session = thread.server.sessions[token]
        self.element = dict(re.findall(r'<\w+ data-tavo-id="([^"]+)" id="(\w+)"', self.html))
        self.element = {id: element for element, id in self.element.items()}
        self.components = thread.call(lambda: {id: self.session.page.component(e) for id, e in self.element.items()})


def load(thread, host=None):
    return Loaded(thread, host)


def socket_url(thread, loaded, token=None):
    return thread.server.address.replace("http:", "ws:") + f"tavo/socket?page={token or loaded.session.token}"


def run(coroutine):
    return asyncio.run(asyncio.wait_for(coroutine, 30))


def refusal_lines(caplog):
    return [record.getMessage() for record in caplog.records if "refused" in record.getMessage()]


async def talk(thread, loaded, messages, origin=None):
    """Connect as the page, send each message, and return every answer (the first is the connection's batch)."""
    async with aiohttp.ClientSession() as client:
        async with client.ws_connect(socket_url(thread, loaded), origin=origin or loaded.session.origin) as socket:
            answers = [await socket.receive_json()]
            for message in messages:
                await (socket.send_bytes(message) if isinstance(message, bytes) else socket.send_str(message))
                answers.append(await socket.receive_json())
            return answers


def event(element, name, *args):
    return json.dumps({"element": element, "event": name, "args": list(args)})


def test_an_event_runs_its_handlers_and_the_answer_carries_the_updates(live):
    page = load(live)
    element = page.element
    answers = run(talk(live, page, [event(element["name"], "on_input", {"text": "Ada"}),
                                    event(element["save"], "on_click", {"source": "mouse"})]))
    assert [answer["seq"] for answer in answers] == [1, 2, 3]
    assert answers[0]["updates"] == []
    typed = {update[0]: update for update in answers[1]["updates"]}
    assert "width: 24.0ch" in typed[element["name"]][1]["style"]
    assert typed[element["save"]][1:] == [{"aria-pressed": "false"}, []]
    saved = {update[0]: update for update in answers[2]["updates"]}
    assert saved[element["delete"]][1:] == [{}, ["disabled"]]
    assert saved[element["name"]][1]["readonly"] == ""
    assert "oninput" in saved[element["name"]][2]
    assert "saved" in saved[element["panel"]][1]["class"].split()


def start_tags(thread, page):
    return thread.call(lambda: [tavo.html.start_tag(c, c.tag) for c in page.components.values()])


@pytest.mark.parametrize(
    "message, reason",
    [
        ("not json", "not JSON"),
        (b"\x00\x01", "a binary message"),
        ('{"element": "1"}', "event is not a text"),
        (json.dumps({"element": "SAVE", "event": "on_click", "args": ["x" * MAX_MESSAGE]}), "bytes (at most 65536)"),
        (event("no-such-element", "on_click"), "an event for an unknown element 'no-such-element'"),
        (event("SAVE", "on_input", {"text": "x"}), "'on_input' is not a client event of element"),
        (event("SAVE", "on_focus"), "'on_focus' is not a client event of element"),
        (event("SAVE", "dispatch"), "'dispatch' is not a client event of element"),
    ],
    ids=["not json", "binary", "no event", "too long", "unknown element", "event of another class",
         "unregistered event", "a method's name"],
)
def test_refused_messages_change_nothing_and_the_page_goes_on(live, caplog, message, reason):
    page = load(live)
    if isinstance(message, str):
        message = message.replace('"SAVE"', json.dumps(page.element["save"]))
    before = start_tags(live, page)
    answers = run(talk(live, page, [message]))
    assert reason in answers[1]["refused"] and "updates" not in answers[1]
    assert start_tags(live, page) == before
    (line,) = refusal_lines(caplog)
    assert reason in line and "\n" not in line
    # The page goes on.
    page = load(live)
    answers = run(talk(live, page, [message, event(page.element["name"], "on_input", {"text": "Bo"})]))
    assert "refused" in answers[1] and answers[2]["updates"]


def test_a_refused_message_dispatches_nothing(live):
    page = load(live)
    calls = []
    live.call(lambda: page.components["save"].bind(on_click=lambda *args: calls.append(args)))
    oversized = json.dumps({"element": page.element["save"], "event": "on_click", "args": ["x" * MAX_MESSAGE]})
    run(talk(live, page, [oversized, event(page.element["save"], "on_input")]))
    assert calls == []
    other = load(live)
    run(talk(live, other, [event(other.element["save"], "on_click", {})]))
    assert calls == []  # another page's button: its own components


def test_a_frame_over_the_library_limit_closes_that_page_only(live):
    page, other = load(live), load(live)

    async def oversized():
        async with aiohttp.ClientSession() as client:
            async with client.ws_connect(socket_url(live, page), origin=page.session.origin) as socket:
                await socket.receive_json()
                await socket.send_str("x" * (2 * 1024 * 1024))
                return await socket.receive()

    assert run(oversized()).type in (aiohttp.WSMsgType.CLOSE, aiohttp.WSMsgType.CLOSED, aiohttp.WSMsgType.CLOSING)
    wait_for(lambda: page.session.page.closed)
    assert page.session.token not in live.server.sessions
    answers = run(talk(live, other, [event(other.element["save"], "on_click", {})]))
    assert answers[1]["seq"] == 2 and "refused" not in answers[1]


def wait_for(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.02)


def test_a_handler_error_is_logged_and_its_earlier_assignments_still_sent(caplog):
    caplog.set_level(logging.INFO, logger="tavo.live")

    def render(page):
        button = demo.Button("Fail", id="b")

        def fail(button, *args):
            button.disabled = True
            raise RuntimeError("boom")

        button.bind(on_click=fail)
        return "<body>" + demo.render_element(button, page=page) + "</body>"

    with ServerThread(LiveServer(render)) as thread:
        page = load(thread)
        b = page.element["b"]
        answers = run(talk(thread, page, [event(b, "on_click"), event(b, "on_click")]))
    assert answers[1]["error"] == "RuntimeError in the handler of on_click"
    assert answers[1]["updates"] == [[b, {"disabled": ""}, []]]
    assert answers[2]["updates"] == [] and answers[2]["seq"] == 3  # the server went on
    failed = [r for r in caplog.records if f"handler of 'on_click' on element {b!r} failed" in r.getMessage()]
    assert len(failed) == 2 and all(r.exc_info for r in failed)


class Fragile(_Attribute):
    """Fails to render while its owner is broken."""

    def attrvalue(self, owner):
        if owner.broken:
            raise RuntimeError("cannot render")
        return super().attrvalue(owner)


class FragileButton(demo.Button):
    label = Fragile("", attrtype="element", attrname="aria-label", sync=True)


def test_a_failing_rendering_is_logged_and_its_updates_sent_with_the_next_batch(caplog):
    caplog.set_level(logging.INFO, logger="tavo.live")

    def render(page):
        button = FragileButton("Go", id="b")
        button.broken = False

        def toggle(button, *args):
            button.broken = not button.broken
            button.label = "broken" if button.broken else "fixed"

        button.bind(on_click=toggle)
        return "<body>" + demo.render_element(button, page=page) + "</body>"

    with ServerThread(LiveServer(render)) as thread:
        page = load(thread)
        b = page.element["b"]
        answers = run(talk(thread, page, [event(b, "on_click"), event(b, "on_click")]))
    assert answers[1] == {"seq": 2, "updates": [], "error": "RuntimeError in a rendering"}
    assert answers[2] == {"seq": 3, "updates": [[b, {"aria-label": "fixed"}, []]]}
    assert any("collecting the updates failed" in r.getMessage() and r.exc_info for r in caplog.records)


@pytest.mark.parametrize("origin", ["http://evil.example", "http://127.0.0.1:1", "null", ""])
def test_a_websocket_from_another_origin_is_refused(live, caplog, origin):
    page = load(live)

    async def connect():
        async with aiohttp.ClientSession() as client:
            headers = {"Origin": origin} if origin else {}
            with pytest.raises(aiohttp.WSServerHandshakeError) as refused:
                await client.ws_connect(socket_url(live, page), headers=headers)
            return refused.value.status

    assert run(connect()) == 403
    (line,) = refusal_lines(caplog)
    assert "Origin" in line and page.session.origin in line
    assert page.session.socket is None and not page.session.page.closed
    # The page itself still connects.
    assert run(talk(live, page, []))[0]["seq"] == 1


def test_unknown_and_second_connections_are_refused(live):
    page = load(live)

    async def attempt(token):
        async with aiohttp.ClientSession() as client:
            async with client.ws_connect(socket_url(live, page), origin=page.session.origin) as socket:
                await socket.receive_json()
                try:
                    await client.ws_connect(socket_url(live, page, token), origin=page.session.origin)
                except aiohttp.WSServerHandshakeError as error:
                    return error.status

    assert run(attempt(page.session.token)) == 409
    # The page's connection closed: the page is gone.
    with pytest.raises(aiohttp.WSServerHandshakeError) as refused:
        run(talk(live, page, []))
    assert refused.value.status == 404


@pytest.mark.parametrize("path", ["", "tavo/live.js", "tavo/socket?page=x"])
def test_a_request_for_another_host_is_refused(live, caplog, path):
    # A name that resolves to loopback elsewhere (DNS rebinding) does not reach the server.
    request = urllib.request.Request(live.server.address + path, headers={"Host": "evil.example"})
    with pytest.raises(urllib.error.HTTPError) as refused:
        urllib.request.urlopen(request, timeout=10)
    assert refused.value.code == 421
    assert live.server.sessions == {}
    (line,) = refusal_lines(caplog)
    assert "'evil.example'" in line


def test_the_client_script_is_served_from_the_package(live):
    with urllib.request.urlopen(live.server.address + "tavo/live.js", timeout=10) as response:
        assert response.headers["Content-Type"] == "text/javascript; charset=utf-8"
        script = response.read().decode()
    assert "new WebSocket(" in script and "setAttribute" in script and "removeAttribute" in script


def test_the_loopback_names_of_the_server_are_its_own(live):
    port = live.server.port
    for host in (f"127.0.0.1:{port}", f"localhost:{port}"):
        assert load(live, host).session.origin == f"http://{host}"


def test_a_disconnected_page_is_closed_and_its_components_released(live, caplog):
    page = load(live)
    components = [weakref.ref(c) for c in page.components.values()]
    session = page.session
    run(talk(live, page, [event(page.element["name"], "on_input", {"text": "Ada"})]))
    wait_for(lambda: session.page.closed)
    assert live.server.sessions == {}
    del page
    live.call(gc.collect)
    assert [ref() for ref in components] == [None] * 5
    assert any("disconnected" in record.getMessage() for record in caplog.records)


def test_a_page_never_connected_is_closed_after_the_timeout():
    with ServerThread(LiveServer(demo.live_page, connect_timeout=0.2)) as thread:
        page = load(thread)
        wait_for(lambda: not thread.server.sessions)
        assert page.session.page.closed


def test_push_sends_changes_made_outside_events(live):
    page = load(live)

    async def scenario():
        async with aiohttp.ClientSession() as client:
            async with client.ws_connect(socket_url(live, page), origin=page.session.origin) as socket:
                await socket.receive_json()
                await asyncio.to_thread(live.call, setattr, page.components["panel"], "opacity", 0.5)
                seq = await asyncio.to_thread(live.push, page.session)
                return seq, await socket.receive_json()

    seq, batch = run(scenario())
    assert seq == batch["seq"] == 2
    style = re.search(r'style="([^"]*)"', live.call(tavo.html.start_tag, page.components["panel"], "div")).group(1)
    assert "opacity: 0.5" in style
    assert batch["updates"] == [[page.element["panel"], {"style": style}, []]]
    wait_for(lambda: page.session.page.closed)
    with pytest.raises(ConnectionError):
        live.push(page.session)


@pytest.mark.no_torture
def test_the_demo_serves_from_the_command_line(tmp_path):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.dirname(tavo.__file__)), env.get("PYTHONPATH", "")])
    process = subprocess.Popen(
        [sys.executable, "-m", "tavo.demo", "--serve", "--port", "0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp_path, env=env,
    )
    try:
        line = process.stdout.readline()
        address = re.search(r"Serving the live demo at (http://127\.0\.0\.1:\d+/)", line)
        assert address, line
        with urllib.request.urlopen(address.group(1), timeout=10) as response:
            page = response.read().decode()
        assert re.search(r'<div data-tavo-id="[^"]+" id="panel"', page)
        assert '<script src="/tavo/live.js"></script>' in page
    finally:
        process.terminate()
        process.wait(10)
        process.stdout.close()
        process.stderr.close()
