"""The demo page in headless Chromium: the browser's CSS and HTML engines judge the rendered texts.

The page's own script writes what the browser made of each element (inline
declarations as parsed, computed styles, attributes, DOM properties, and the
events the handlers sent, none on load) into #computed, and above it marks
each rendered value accepted or dropped in the verdict table; Chromium's
--dump-dom hands the document back after the script has run. A page of values
the browser does not take checks that the verdict tells them apart.
"""
import html
import json
import os
import re
import shutil
import subprocess

import pytest

from tavo import demo
from tavo.core._attributes import (
    _Attribute, _ColorAttribute, _GenericEventAttribute, _ListAttribute, _LogicalAttribute, _NumericAttribute,
)

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


def dump_dom(page_text, folder):
    """The document after the page's script ran in headless Chromium."""
    browser = find_browser()
    page = folder / "index.html"
    page.write_text(page_text, encoding="utf-8")
    env = {key: value for key, value in os.environ.items() if key not in SANITIZER_ENV}
    run = subprocess.run(
        [
            browser, "--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
            f"--user-data-dir={folder / 'profile'}", "--dump-dom", page.as_uri(),
        ],
        capture_output=True, text=True, timeout=120, env=env, cwd=folder,
    )
    assert run.returncode == 0, run.stderr[-2000:]
    return run.stdout


@pytest.fixture(scope="module")
def dumped(tmp_path_factory):
    return dump_dom(demo.build_page(DEMO), tmp_path_factory.mktemp("browser"))


@pytest.fixture(scope="module")
def report(dumped):
    found = re.search(r'<pre id="computed">(.*?)</pre>', dumped, re.S)
    assert found, dumped[-2000:]
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
def test_the_report_clicks_nothing_on_load(report):
    # Clicks are the person's (tests/test_live.py clicks Save, and Delete while disabled, in the live page).
    assert report["sent"] == []


# The verdict: one row per rendered value, judged by the page's script.
ROWS = [
    pytest.param(id, index, row.value, id=f"{id}-{row.value}")
    for id, element in demo.read_verdict(demo.build_page(DEMO)).items()
    for index, row in enumerate(element.rows)
]


@pytest.mark.no_leakcheck
@pytest.mark.parametrize("element, index, value", ROWS)
def test_verdict_accepts_every_value_of_the_demo(dumped, element, index, value):
    row = demo.read_verdict(dumped)[element].rows[index]
    assert (row.value, row.verdict) == (value, "accepted"), row.seen


@pytest.mark.no_leakcheck
def test_verdict_counts_per_element_above_the_raw_data(dumped):
    verdict = demo.read_verdict(dumped)
    assert {id: element.summary for id, element in verdict.items()} == {
        id: f"{len(element.rows)} accepted" for id, element in verdict.items()
    }
    assert list(verdict) == ["panel", "name", "password", "save", "delete"]
    assert dumped.index('<table id="verdict">') < dumped.index('<pre id="computed">')


class Faulty(demo.Component):
    """Values the browser does not take, each beside one it does."""

    tag = "input"
    classes = _ListAttribute(["box", "wide tall"], attrtype="class")
    plain_color = _ColorAttribute([255, 128, 0], attrtype="style", attrname="color")
    width = _NumericAttribute(5, units="px", attrtype="style")
    height = _NumericAttribute(5, units="px", attrtype="style")
    kind = _Attribute("secret", attrtype="element", attrname="type")
    drag = _Attribute("yes", attrtype="element", attrname="draggable")
    spellcheck = _LogicalAttribute(True, attrtype="element")
    onchange = _GenericEventAttribute(True, "if (", attrtype="element")
    onfocus = _GenericEventAttribute(True, "this.select();", attrtype="element")


# The stylesheet's rule wins over the inline width.
FAULTY_RULE = "#faulty { width: 1px !important; }"


@pytest.fixture(scope="module")
def faulty(tmp_path_factory):
    page = demo.build_page(demo.Demo(Faulty(id="faulty"), []))
    page = page.replace("</style>", FAULTY_RULE + "\n</style>", 1)
    return demo.read_verdict(dump_dom(page, tmp_path_factory.mktemp("faulty")))["faulty"]


@pytest.mark.no_leakcheck
@pytest.mark.parametrize(
    "shown, verdict, seen",
    [
        ("class box", "accepted", "in the class list"),
        ("class wide tall", "dropped", 'the class list is ["box","wide","tall"]'),
        ("color: 1.0, 0.5019607843137255, 0.0", "dropped", "the CSS parser refused the declaration"),
        ("width: 5px", "dropped", "computed 1px: another rule wins over 5px"),
        ("height: 5px", "accepted", "computed 5px"),
        ('type="secret"', "dropped", 'the DOM property reads "text"'),
        ('draggable="yes"', "dropped", "the DOM property reads false"),
        ('spellcheck="true"', "accepted", "the DOM property reads true"),
        ('onchange="if ("', "dropped", "the handler code did not compile"),
        ('onfocus="this.select();"', "accepted", "a handler function"),
    ],
)
def test_verdict_drops_what_the_browser_does_not_take(faulty, shown, verdict, seen):
    rows = {str(row.value): row for row in faulty.rows}
    assert (rows[shown].verdict, rows[shown].seen) == (verdict, seen)


@pytest.mark.no_leakcheck
def test_verdict_counts_the_dropped_values(faulty):
    assert faulty.summary == "4 accepted, 6 dropped"
