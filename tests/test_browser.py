"""The demo page in headless Chromium: the browser's CSS and HTML engines judge the rendered texts.

The page's own script writes what the browser made of each element (inline
declarations as parsed, computed styles, attributes, DOM properties, and the
events sent when the buttons are clicked) into #computed; Chromium's
--dump-dom hands the document back after the script has run.
"""
import html
import json
import os
import re
import shutil
import subprocess

import pytest

from tavo import demo

BROWSERS = ("chromium", "chromium-browser")
# Set where the check must run (CI): a missing browser fails instead of skipping.
REQUIRED = os.environ.get("TAVO_REQUIRE_BROWSER") == "1"
# The sanitizer run preloads its runtimes; the browser is not built for them.
SANITIZER_ENV = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")

DEMO = demo.build_demo()
COMPONENTS = {component.id: component for component in demo.components_of(DEMO.root)}


def find_browser():
    for name in BROWSERS:
        path = shutil.which(name)
        if path:
            return path
    message = "headless Chromium is not installed (Debian: apt-get install chromium); .ci/run installs it"
    if REQUIRED:
        pytest.fail(message)
    pytest.skip(message)


@pytest.fixture(scope="module")
def report(tmp_path_factory):
    browser = find_browser()
    folder = tmp_path_factory.mktemp("browser")
    page = folder / "index.html"
    page.write_text(demo.build_page(DEMO), encoding="utf-8")
    env = {key: value for key, value in os.environ.items() if key not in SANITIZER_ENV}
    run = subprocess.run(
        [
            browser, "--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
            f"--user-data-dir={folder / 'profile'}", "--dump-dom", page.as_uri(),
        ],
        capture_output=True, text=True, timeout=120, env=env, cwd=folder,
    )
    assert run.returncode == 0, run.stderr[-2000:]
    found = re.search(r'<pre id="computed">(.*?)</pre>', run.stdout, re.S)
    assert found, run.stdout[-2000:]
    text = html.unescape(found.group(1))
    assert text.startswith("{"), f"the page's script did not run: {text!r}"
    return json.loads(text)


def style_declarations():
    for id, component in COMPONENTS.items():
        for attr in demo.attributes_of(component):
            if attr.attrtype == "style" and (value := attr.attrvalue(component)):
                yield pytest.param(id, attr.attrname, value, id=f"{id}-{attr.attrname}")


def element_attributes():
    for id, component in COMPONENTS.items():
        for name, value in demo.rendered_attributes(component).items():
            if name not in ("id", "class", "style"):
                yield pytest.param(id, name, "" if value is None else value, id=f"{id}-{name}")


@pytest.mark.no_leakcheck
@pytest.mark.parametrize("element, name, rendered", list(style_declarations()))
def test_browser_parses_every_style_declaration(report, element, name, rendered):
    # An invalid declaration is dropped by the CSS parser and reads back empty.
    assert report["elements"][element]["inline"][name] != "", f"{name}: {rendered} was refused"


@pytest.mark.no_leakcheck
@pytest.mark.parametrize(
    "element, name, computed",
    [
        ("name", "width", "240px"),
        ("name", "font-size", "16px"),
        ("name", "margin-top", "10px"),
        ("name", "margin-right", "20px"),
        ("name", "margin-bottom", "10px"),
        ("name", "margin-left", "20px"),
        ("name", "color", "rgba(0, 0, 128, 0.75)"),
        ("password", "width", "256px"),
        ("password", "margin-top", "0px"),
        ("password", "margin-right", "20px"),
        ("password", "margin-bottom", "5px"),
        ("password", "margin-left", "16px"),
        ("panel", "background-color", "rgb(255, 128, 0)"),
        ("panel", "color", "rgba(0, 0, 128, 0.75)"),
        ("panel", "padding-top", "12px"),
        ("panel", "padding-right", "24px"),
        ("panel", "padding-bottom", "12px"),
        ("panel", "padding-left", "24px"),
        ("panel", "opacity", "0.9"),
    ],
)
def test_browser_computes_the_rendered_values(report, element, name, computed):
    assert report["elements"][element]["computed"][name] == computed


@pytest.mark.no_leakcheck
@pytest.mark.parametrize("element, name, rendered", list(element_attributes()))
def test_browser_reads_every_element_attribute_back(report, element, name, rendered):
    assert report["elements"][element]["attributes"][name] == rendered


@pytest.mark.no_leakcheck
@pytest.mark.parametrize(
    "element, name, value",
    [
        ("delete", "disabled", True),
        ("save", "disabled", False),
        ("password", "readonly", True),
        ("name", "readonly", False),
        ("name", "spellcheck", False),
        ("password", "spellcheck", True),
        ("name", "type", "text"),
        ("password", "type", "password"),
        ("save", "type", "submit"),
        ("delete", "type", "button"),
        ("save", "aria-pressed", "true"),
        ("delete", "aria-pressed", None),
        ("save", "onclick", "function"),
        ("delete", "onclick", "function"),
        ("name", "oninput", "function"),
        ("password", "oninput", None),
    ],
)
def test_browser_understands_the_element_attributes(report, element, name, value):
    assert report["elements"][element]["properties"][name] == value


@pytest.mark.no_leakcheck
def test_browser_sees_the_class_list(report):
    assert report["elements"]["panel"]["classes"] == ["panel", "card", "highlighted"]


@pytest.mark.no_leakcheck
@pytest.mark.parametrize(
    "button, sent",
    [("save", [["save", "on_click", {"source": "mouse"}]]), ("delete", [])],
)
def test_click_handlers_run_unless_disabled(report, button, sent):
    assert report["clicked"][button] == sent
