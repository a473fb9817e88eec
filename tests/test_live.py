"""The live demo in headless Chromium driven by selenium: the browser follows the components, checked at each step.

A person's path through the demo, a seeded differential check of server-side
changes against what start_tag renders, bad input from the page's side (a
foreign origin included) and 20 pages open at once. The browser and its
driver are Debian's (chromium, chromium-driver), given by path so that
selenium never fetches a driver; the driver runs without the sanitizer's
preload. Skips where any of them or selenium is missing, unless
TAVO_REQUIRE_BROWSER=1 (CI).
"""
import gc
import html.parser
import json
import logging
import os
import random
import shutil
import threading
import weakref
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import pytest

import tavo.html
from tavo import demo
from tavo.core.properties import ObservableList

REQUIRED = os.environ.get("TAVO_REQUIRE_BROWSER") == "1"
SANITIZER_ENV = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
WAIT = 30

pytestmark = [pytest.mark.no_leakcheck, pytest.mark.no_torture]


def missing(message):
    if REQUIRED:
        pytest.fail(message)
    pytest.skip(message)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    from tavo.live import MAX_MESSAGE, LiveServer, ServerThread
except ImportError as error:
    if REQUIRED:
        raise
    pytest.skip(f"the live tests need selenium and aiohttp ({error})", allow_module_level=True)


@pytest.fixture(scope="module")
def live():
    """The live demo's server on a loopback port, with the log lines of tavo.live kept."""
    lines = LogLines()
    logger = logging.getLogger("tavo.live")
    logger.addHandler(lines)
    logger.setLevel(logging.INFO)
    try:
        with ServerThread(LiveServer(demo.live_page)) as thread:
            thread.lines = lines
            yield thread
    finally:
        logger.removeHandler(lines)


class LogLines(logging.Handler):
    def __init__(self):
        super().__init__()
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        missing("chromium and chromedriver are not installed (Debian: apt-get install chromium chromium-driver)")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-dev-shm-usage", f"--user-data-dir={tmp_path_factory.mktemp('profile')}"):
        options.add_argument(argument)
    env = {key: value for key, value in os.environ.items() if key not in SANITIZER_ENV}
    session = webdriver.Chrome(service=Service(executable_path=driver, env=env), options=options)
    session.set_script_timeout(WAIT)
    yield session
    session.quit()


class Tab:
    """The live demo open in a browser tab: its server-side session and components, its DOM."""

    def __init__(self, live, browser):
        self.live, self.browser = live, browser
        browser.get(live.server.address)
        self.handle = browser.current_window_handle
        self.wait_for("tavo.state === 'open' && tavo.applied >= 1")
        token = browser.execute_script(
            "return JSON.parse(document.getElementById('tavo-live').textContent).socket.split('page=')[1]"
        )
        self.session = live.server.sessions[token]
        ids = browser.execute_script(
            "return Object.fromEntries([...document.querySelectorAll('[data-tavo-id]')]"
            ".map(e => [e.id, e.getAttribute('data-tavo-id')]))"
        )
        self.components = live.call(lambda: {id: self.session.page.component(element) for id, element in ids.items()})
        self.element = ids

    def wait_for(self, condition):
        WebDriverWait(self.browser, WAIT).until(lambda browser: browser.execute_script(f"return {condition}"))

    def settle(self):
        """Wait until the page has applied every batch the server sent it."""
        sent = self.live.call(lambda: self.session.sent)
        self.wait_for(f"tavo.applied >= {sent}")
        return sent

    def push(self):
        self.wait_for(f"tavo.applied >= {self.live.push(self.session)}")

    def dom(self):
        """Every attribute of every element on the page, by the element's id."""
        return self.browser.execute_script(
            "return Object.fromEntries([...document.querySelectorAll('[data-tavo-id]')].map(e => "
            "[e.id, Object.fromEntries([...e.attributes].map(a => [a.name, a.value]))]))"
        )

    def rendered(self):
        """What start_tag renders for each component now: the synced attributes, by the element's id."""
        return self.live.call(
            lambda: {id: synced_attributes(component) for id, component in self.components.items()}
        )

    def element_by_id(self, id):
        return self.browser.find_element(By.ID, id)


class _Tag(html.parser.HTMLParser):
    def handle_starttag(self, tag, attrs):
        self.attributes = {name: "" if value is None else value for name, value in attrs}


def synced_names(component):
    names = {"style", "class"}
    for attr in demo.attributes_of(component):
        if attr.attrtype == "element" and attr.sync:
            names.add(attr.attrname)
    return names


def synced_attributes(component):
    """The synced attributes of the component's start tag, by name (texts unescaped; absent ones None)."""
    parser = _Tag()
    parser.feed(tavo.html.start_tag(component, component.tag))
    parser.close()
    return {name: parser.attributes.get(name) for name in synced_names(component)}


def mismatches(tab, **context):
    """Each synced attribute that the DOM shows otherwise than start_tag renders it, as a printable line."""
    dom, rendered = tab.dom(), tab.rendered()
    found = []
    for id, attributes in rendered.items():
        for name, text in sorted(attributes.items()):
            shown = dom[id].get(name)
            if shown != text:
                where = " ".join(f"{key}={value}" for key, value in context.items())
                found.append(f"{where} element={id} {name}: the browser has {shown!r}, start_tag renders {text!r}")
    return found


def verdict_problems(tab):
    """Rows of the verdict table not accepted, and rendered values it has no row for."""
    verdict = demo.read_verdict(tab.browser.page_source)
    problems = []
    for id, component in tab.components.items():
        rows = verdict[id].rows
        problems += [f"{id}: {row.value} {row.verdict}: {row.seen}" for row in rows if row.verdict != "accepted"]
        expected = tab.live.call(lambda: {v for v in demo.rendered_values(component) if v.name != "id"})
        if {row.value for row in rows} != expected:
            problems.append(f"{id}: rows {sorted(map(str, (r.value for r in rows)))} for {sorted(map(str, expected))}")
        if verdict[id].summary != f"{len(rows)} accepted":
            problems.append(f"{id}: summary {verdict[id].summary!r}")
    return problems


@pytest.fixture
def tab(live, browser):
    return Tab(live, browser)


def check(tab, step):
    assert mismatches(tab, step=step) == []
    assert verdict_problems(tab) == []


def test_a_persons_path(tab):
    browser = tab.browser
    check(tab, "open")
    attributes = lambda id: tab.dom()[id]  # noqa: E731
    assert "disabled" in attributes("delete")

    # Delete is disabled: clicking it sends nothing (the Save click after it is the next batch).
    sent = tab.settle()
    tab.element_by_id("delete").click()
    tab.element_by_id("save").click()  # with no name: the field is marked
    tab.wait_for(f"tavo.applied === {sent + 1}")
    assert tab.live.call(lambda: tab.session.sent) == sent + 1
    assert attributes("name")["placeholder"] == "Type a name first"
    assert "color: rgb(200, 0, 0)" in attributes("name")["style"]
    check(tab, "save without a name")

    tab.element_by_id("name").send_keys('Fish & "Chips" <Ltd>')
    tab.settle()
    assert "width: 24.0ch" in attributes("name")["style"]
    assert attributes("save")["aria-pressed"] == "false"
    check(tab, "typed")

    tab.element_by_id("save").click()
    tab.wait_for("!document.getElementById('delete').hasAttribute('disabled')")
    tab.settle()
    name = attributes("name")
    assert "readonly" in name and "oninput" not in name
    assert "color: rgb(0, 96, 0)" in name["style"] and "font-size: 14.0pt" in name["style"]
    assert attributes("save")["aria-pressed"] == "true"
    assert attributes("panel")["class"].split() == ["panel", "card", "saved"]
    assert "background-color: rgb(200, 240, 200)" in attributes("panel")["style"]
    check(tab, "saved")

    tab.element_by_id("delete").click()
    tab.wait_for("document.getElementById('delete').hasAttribute('disabled')")
    tab.settle()
    name = attributes("name")
    assert name["placeholder"] == 'Deleted "Fish & "Chips" <Ltd>": type a new name'
    assert "readonly" not in name and "oninput" in name
    assert attributes("panel")["class"].split() == ["panel", "card", "highlighted"]
    check(tab, "deleted")
    # The restored handler sends again.
    tab.element_by_id("name").send_keys("!")
    tab.settle()
    assert "width: 25.0ch" in attributes("name")["style"]
    assert browser.execute_script("return tavo.refused") == []


# What the differential check assigns: per component id, attribute names and values (refused ones included).
TEXTS = ["", "plain", 'Fish & "Chips" <Ltd>', "it's", "a; b", "\u00e9t\u00e9"]
LENGTHS = ["240px", (16, "em"), 12.5, "50%", (3, "pt"), "auto", "inherit", "wide", True, "1e3px", -4]
MARGINS = ["10px 20px", [0, "20px", "5px", "1em"], "inherit", "7px", ["1px", "2px"], "1px 2px 3px", (4, "px")]
COLORS = ["#ff8000", [0, 0, 128, 0.75], [255, 0, 0], "#abc", None, "inherit", "currentcolor", [255, 128], "red"]
FLAGS = [True, False, None, 0, 1, "yes"]
BOX = {
    "width": LENGTHS, "font_size": ["12pt", 14, (1.5, "em"), "inherit", "huge"], "margin": MARGINS,
    "color": COLORS, "placeholder": TEXTS + [None, 5], "spellcheck": FLAGS, "read_only": FLAGS,
    "oninput": FLAGS, "kind": ["text", "email", "secret", "date"],
}
BUTTON = {"disabled": FLAGS, "pressed": FLAGS, "onclick": FLAGS, "type": ["button", "submit", "reset", "image"]}
PANEL = {
    "classes": [["panel"], ["panel", "card"], [], ["a b"], "card", ("x",)], "highlighted": FLAGS,
    "background_color": COLORS, "color": COLORS, "padding": MARGINS + ["8px"],
    "opacity": [0, 0.25, 1.0, 1.5, -0.1, "0.5"],
}
CHOICES = {"panel": PANEL, "name": BOX, "password": BOX, "save": BUTTON, "delete": BUTTON}


def change(rng, tab):
    """One random change on the server's side; a description of it."""
    id = rng.choice(list(CHOICES))
    component = tab.components[id]
    kind = rng.random()
    if id == "panel" and kind < 0.2:
        # In place, on the ObservableList: recorded.
        classes = component.classes
        assert isinstance(classes, ObservableList)
        action = rng.choice(["append", "remove", "set", "extend", "clear"])
        if action == "append":
            classes.append(rng.choice(["card", "saved", "wide", "x"]))
        elif action == "remove" and classes:
            classes.remove(rng.choice(list(classes)))
        elif action == "set" and classes:
            classes[rng.randrange(len(classes))] = rng.choice(["alpha", "beta"])
        elif action == "extend":
            classes.extend(["e1", "e2"])
        else:
            classes.clear()
        return f"{id}.classes {action} -> {list(classes)}"
    if id in ("panel", "name", "password") and kind < 0.35:
        # A plain list changed in place: not recorded; refresh says so.
        name = "padding" if id == "panel" else rng.choice(["margin", "color"])
        value = getattr(component, name)
        if isinstance(value, list) and value:
            value[rng.randrange(len(value))] = rng.choice(["3px", "9px", 17] if name != "color" else [10, 200, 0.5])
            tab.session.page.refresh(component)
            return f"{id}.{name}[...] in place -> {value}, refreshed"
    if id in ("name", "password") and kind < 0.45:
        # The same number in another unit.
        number = rng.choice([2, 16, 240])
        unit = rng.choice(["px", "em", "pt", "%"])
        component.width = (number, unit)
        return f"{id}.width = {(number, unit)}"
    name = rng.choice(list(CHOICES[id]))
    value = rng.choice(CHOICES[id][name])
    try:
        setattr(component, name, list(value) if isinstance(value, list) else value)
    except (ValueError, TypeError) as error:
        return f"{id}.{name} = {value!r} refused ({type(error).__name__})"
    return f"{id}.{name} = {value!r}"


@pytest.mark.parametrize("seed", [20261211, 7])
def test_the_browser_follows_random_server_side_changes(tab, seed):
    rng = random.Random(seed)
    print(f"seed {seed}")
    step = assignments = 0
    log = []
    while assignments < 200:
        batch = rng.randint(1, 15)
        log += tab.live.call(lambda: [change(rng, tab) for _ in range(batch)])
        step += batch
        # Assignments, refused ones and unit changes included; the rest are changes in place.
        assignments += sum(" = " in line for line in log[-batch:])
        tab.push()
        found = mismatches(tab, seed=seed, step=step)
        assert not found, "\n".join(found + ["changes:"] + log[-batch:])
    assert any("in place" in line and "refreshed" in line for line in log)
    assert any("classes" in line and "->" in line for line in log)
    assert any("refused" in line for line in log)
    assert verdict_rows_follow(tab)


def verdict_rows_follow(tab):
    """The verdict table has a row per synced rendered value after the last batch (whatever the browser made of it)."""
    verdict = demo.read_verdict(tab.browser.page_source)
    for id, component in tab.components.items():
        synced = synced_names(component) | {"class"}

        def followed(values):
            return {value for value in values if value.kind != "element" or value.name in synced}

        expected = tab.live.call(lambda: followed(demo.rendered_values(component)))
        assert followed(row.value for row in verdict[id].rows) == expected, id
        assert all(row.verdict in ("accepted", "dropped") for row in verdict[id].rows)
    return True


def bad_messages(tab):
    save = json.dumps(tab.element["save"])
    big = json.dumps({"element": tab.element["save"], "event": "on_click", "args": ["x" * MAX_MESSAGE]})
    return {
        "not JSON": ("tavo.socket.send('{')", "a message that is not JSON"),
        "binary": ("tavo.socket.send(new Uint8Array([1, 2]))", "a binary message"),
        "not an object": ("tavo.socket.send('[1]')", "not a JSON object"),
        "too long": (f"tavo.socket.send({json.dumps(big)})", "bytes (at most 65536)"),
        "unknown element": ("tavo.send('no-such-element', 'on_click', {})", "unknown element 'no-such-element'"),
        "not a client event": (f"tavo.send({save}, 'on_input', {{text: 'x'}})", "'on_input' is not a client event"),
    }


BAD = ["not JSON", "binary", "not an object", "too long", "unknown element", "not a client event"]


@pytest.mark.parametrize("case", BAD)
def test_bad_input_from_the_page_is_refused_and_changes_nothing(tab, case):
    script, reason = bad_messages(tab)[case]
    sent = tab.settle()
    before_dom, before_rendered = tab.dom(), tab.rendered()
    lines = len(tab.live.lines.messages)
    tab.browser.execute_script(script)
    tab.wait_for(f"tavo.applied === {sent + 1}")
    assert tab.browser.execute_script("return tavo.refused") == [
        next(m for m in tab.live.lines.messages[lines:] if "refused" in m).partition("refused ")[2]
    ]
    refusals = [m for m in tab.live.lines.messages[lines:] if "refused" in m]
    assert len(refusals) == 1 and reason in refusals[0]
    assert (tab.dom(), tab.rendered()) == (before_dom, before_rendered)
    # The page goes on.
    tab.element_by_id("name").send_keys("A")
    tab.wait_for(f"tavo.applied === {sent + 2}")
    assert "width: 24.0ch" in tab.dom()["name"]["style"]


class ForeignSite(BaseHTTPRequestHandler):
    """Another origin's page that tries to drive a live page through its WebSocket."""

    target = ""

    def do_GET(self):
        body = (
            "<!DOCTYPE html><script>window.result = 'pending';"
            f"const socket = new WebSocket({json.dumps(self.target)});"
            "socket.onopen = () => { window.result = 'open'; socket.send("
            + json.dumps(json.dumps({"element": "1", "event": "on_click", "args": [{}]}))
            + "); };"
            "socket.onclose = () => { if (window.result === 'pending') window.result = 'refused'; };"
            "</script>"
        ).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def test_a_page_of_another_origin_cannot_connect(live, browser):
    # A page loaded (over HTTP, not yet connected), whose token the other site somehow has.
    import urllib.request

    with urllib.request.urlopen(live.server.address, timeout=10) as response:
        text = response.read().decode()
    token = json.loads(text.split('id="tavo-live">', 1)[1].split("</script>", 1)[0])["socket"].split("page=")[1]
    session = live.server.sessions[token]
    ForeignSite.target = live.server.address.replace("http:", "ws:") + f"tavo/socket?page={token}"
    site = ThreadingHTTPServer(("127.0.0.1", 0), ForeignSite)
    thread = threading.Thread(target=site.serve_forever, daemon=True)
    thread.start()
    lines = len(live.lines.messages)
    try:
        browser.get(f"http://127.0.0.1:{site.server_address[1]}/")
        WebDriverWait(browser, WAIT).until(lambda b: b.execute_script("return window.result") != "pending")
        assert browser.execute_script("return window.result") == "refused"
    finally:
        site.shutdown()
        site.server_close()
    (line,) = [m for m in live.lines.messages[lines:] if "refused" in m]
    assert f"Origin 'http://127.0.0.1:{site.server_address[1]}'" in line
    assert session.socket is None and not session.page.closed


def test_twenty_pages_at_once_each_follow_their_own_components(live, browser):
    tabs = []
    for index in range(20):
        if index:
            browser.switch_to.new_window("tab")
        tabs.append(Tab(live, browser))
    assert len({tab.session.token for tab in tabs}) == 20
    # Each page is told its own changes: a width, a colour and an opacity of its own.
    for index, tab in enumerate(tabs):
        def assign(tab=tab, index=index):
            tab.components["name"].width = f"{100 + index}px"
            tab.components["panel"].color = [index, 0, 0]
            tab.components["panel"].classes.append(f"page{index}")
        live.call(assign)
    for index, tab in enumerate(tabs):
        browser.switch_to.window(tab.handle)
        tab.push()
        # Also a person's input on every other page.
        if index % 2:
            tab.element_by_id("name").send_keys(f"tab {index}")
            tab.settle()
    for index, tab in enumerate(tabs):
        browser.switch_to.window(tab.handle)
        assert mismatches(tab, page=index) == []
        dom = tab.dom()
        width = "24.0ch" if index % 2 else f"{100 + index}.0px"
        assert f"width: {width}" in dom["name"]["style"]
        assert f"color: rgb({index}, 0, 0)" in dom["panel"]["style"]
        assert [c for c in dom["panel"]["class"].split() if c.startswith("page")] == [f"page{index}"]
    # Closing the tabs closes their pages and releases their components.
    refs = [weakref.ref(tab.components["panel"]) for tab in tabs[1:]]
    sessions = [tab.session for tab in tabs[1:]]
    for tab in tabs[1:]:
        browser.switch_to.window(tab.handle)
        browser.close()
    browser.switch_to.window(tabs[0].handle)
    del tab, tabs, assign
    WebDriverWait(browser, WAIT).until(lambda b: all(s.page.closed for s in sessions))
    assert all(s.token not in live.server.sessions for s in sessions)
    live.call(gc.collect)
    assert [ref() for ref in refs] == [None] * 19
