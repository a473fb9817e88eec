"""The demo page: attributes placed by kind, values escaped, refusals shown as messages, the command line."""
import html.parser
import json
import os
import re
import subprocess
import sys

import pytest

import tavo
from tavo import demo
from tavo.core._attributes import _BooleanAttribute, _NumericAttribute


class PageParser(html.parser.HTMLParser):
    """Start tags by id (attributes unescaped by the parser) and the text of the refusal list items."""

    def __init__(self):
        super().__init__()
        self.elements = {}
        self.refused = []
        self._in_item = False

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        if "id" in attributes:
            self.elements[attributes["id"]] = (tag, attributes)
        if tag == "li":
            self._in_item = True
            self.refused.append("")

    def handle_endtag(self, tag):
        if tag == "li":
            self._in_item = False

    def handle_data(self, data):
        if self._in_item:
            self.refused[-1] += data


def parse(page):
    parser = PageParser()
    parser.feed(page)
    parser.close()
    return parser


def declarations(style):
    return dict(part.split(": ", 1) for part in style.split("; "))


DEMO = demo.build_demo()
PAGE = parse(demo.build_page(DEMO))
RENDERED = [
    (component, attr)
    for component in demo.components_of(DEMO.root)
    for attr in demo.attributes_of(component)
    if attr.attrvalue(component) not in ("", None)
]


def case_id(case):
    component, attr = case
    return f"{component.id}-{attr.attrname}"


@pytest.mark.parametrize("case", RENDERED, ids=[case_id(case) for case in RENDERED])
def test_each_rendered_attribute_lands_where_its_kind_says(case):
    component, attr = case
    tag, attributes = PAGE.elements[component.id]
    assert tag == component.tag
    text = str(attr.attrvalue(component))
    if attr.attrtype == "style":
        assert declarations(attributes["style"])[attr.attrname] == text
    elif attr.attrtype == "class":
        classes = attributes["class"].split()
        assert all(item.strip() in classes for item in text.split(","))
    elif isinstance(attr, _BooleanAttribute):
        assert text in attributes and attributes[text] is None
    else:
        assert attributes[attr.attrname] == text


@pytest.mark.parametrize(
    "element, name, expected",
    [
        ("name", "placeholder", 'Your name, e.g. "Fish & Chips" <Ltd>'),
        ("name", "oninput", 'tavo.send(this, "on_input", {"text": this.value});'),
        ("name", "type", "text"),
        ("password", "type", "password"),
        ("save", "onclick", "event.preventDefault();tavo.send(this, \"on_click\", "
         "{\"source\": event.detail ? 'mouse' : 'keyboard'});this.blur();"),
        ("save", "aria-pressed", "true"),
        ("name", "spellcheck", "false"),
        ("panel", "class", "panel card highlighted"),
        ("name", "style", "width: 240.0px; font-size: 12.0pt; margin: 10px 20px 10px 20px; color: inherit"),
        ("panel", "style", "background-color: rgb(255, 128, 0); color: rgba(0, 0, 128, 0.75); "
         "padding: 12px 1.5em 12px 1.5em; opacity: 0.9"),
    ],
)
def test_values_read_back_unescaped(element, name, expected):
    assert PAGE.elements[element][1][name] == expected


@pytest.mark.parametrize(
    "element, present, absent",
    [
        ("delete", {"disabled"}, {"aria-pressed", "readonly"}),
        ("save", {"aria-pressed"}, {"disabled"}),
        ("password", {"readonly"}, {"oninput", "placeholder"}),
        ("name", {"oninput", "placeholder"}, {"readonly"}),
    ],
)
def test_empty_renderings_leave_the_attribute_out(element, present, absent):
    attributes = PAGE.elements[element][1]
    assert present <= attributes.keys()
    assert not absent & attributes.keys()


def test_start_tags_escape_quotes_and_markup():
    tag = demo.start_tag(DEMO.root.children[0])
    assert 'placeholder="Your name, e.g. &quot;Fish &amp; Chips&quot; &lt;Ltd&gt;"' in tag
    assert 'oninput="tavo.send(this, &quot;on_input&quot;, {&quot;text&quot;: this.value});"' in tag
    save = demo.start_tag(DEMO.root.children[2])
    assert "{&quot;source&quot;: event.detail ? &#x27;mouse&#x27; : &#x27;keyboard&#x27;}" in save


def test_refusals_carry_the_attribute_messages():
    messages = {(r.component, r.name, repr(r.value)): r.message for r in DEMO.refusals}
    assert messages == {
        ("TextBox", "width", "'wide'"): "TextBox.width has an invalid unit text (got 'wide')",
        ("TextBox", "width", "True"): "TextBox.width has an invalid format (got True)",
        ("TextBox", "margin", "'1px 2px 3px'"):
            "TextBox.margin must have 1, 2 or 4 components (got ['1px', '2px', '3px'])",
        ("TextBox", "kind", "'date'"):
            "TextBox.kind is set to an invalid option 'date'. Must be one of: ['text', 'email', 'secret']",
        ("Button", "type", "'image'"):
            "Button.type is set to an invalid option 'image'. Must be one of: ['button', 'submit', 'reset']",
        ("Panel", "opacity", "1.5"): "Panel.opacity is above the maximum bound (1.0)",
        ("Panel", "background_color", "[255, 128]"):
            "Panel.background_color must have 3 or 4 components (got [255, 128])",
        ("Panel", "classes", "'card highlighted'"): "Panel.classes accept only ObservableList",
    }
    assert PAGE.refused == [str(r) for r in DEMO.refusals]


def test_refused_values_leave_the_previous_ones():
    name = DEMO.root.children[0]
    assert (name.width, name.margin, name.kind) == (240.0, ["10px", "20px", "10px", "20px"], "text")
    assert (DEMO.root.opacity, DEMO.root.classes) == (0.9, ["panel", "card"])


def test_report_script_names_the_reported_attributes():
    checks = json.loads(re.search(r"const CHECKS = (.*);", demo.build_page(DEMO)).group(1))
    assert set(checks) == {"panel", "name", "password", "save", "delete"}
    assert checks["name"]["style"] == ["width", "font-size", "margin", "color"]
    assert checks["save"]["element"] == ["type", "onclick", "disabled", "aria-pressed"]


@pytest.mark.parametrize("text", ["</script><script>alert(1)</script>", "<!--", "a & b"])
def test_script_json_cannot_close_the_script(text):
    encoded = demo.script_json({"k": text})
    assert not re.search(r"[<>&]", encoded)
    assert json.loads(encoded) == {"k": text}


def test_a_subclass_redeclaration_replaces_the_inherited_attribute():
    class WideBox(demo.TextBox):
        width = _NumericAttribute(50, units="%", attrtype="style")

    box = WideBox()
    widths = [attr for attr in demo.attributes_of(box) if attr.attrname == "width"]
    assert widths == [WideBox.width]
    assert "width: 50%" in demo.rendered_attributes(box)["style"]


def test_print_writes_the_page_only(capsys):
    assert demo.main(["--print"]) == 0
    out = capsys.readouterr().out
    assert out == demo.build_page()


def test_output_writes_the_page_and_says_where(tmp_path, capsys):
    target = tmp_path / "page.html"
    assert demo.main(["--output", str(target)]) == 0
    out = capsys.readouterr().out
    assert target.read_text(encoding="utf-8") == demo.build_page()
    assert f"Page written to {target}" in out
    assert "Panel.opacity = 1.5: Panel.opacity is above the maximum bound (1.0)" in out


def test_default_output_is_a_new_temporary_directory(tmp_path, monkeypatch, capsys):
    monkeypatch.setattr("tempfile.tempdir", str(tmp_path))
    assert demo.main([]) == 0
    (written,) = tmp_path.glob("tavo-demo-*/index.html")
    assert f"Page written to {written}" in capsys.readouterr().out


def test_unwritable_output_is_a_message(tmp_path, capsys):
    assert demo.main(["--output", str(tmp_path / "missing" / "page.html")]) == 1
    err = capsys.readouterr().err
    assert err.startswith("\ncannot write the page: ") and "Traceback" not in err


@pytest.mark.no_leakcheck
def test_module_runs_without_tracebacks(tmp_path):
    target = tmp_path / "page.html"
    env = dict(os.environ)
    # The package this suite imports, also when PYTHONPATH is relative to the source tree.
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.dirname(tavo.__file__)), env.get("PYTHONPATH", "")])
    run = subprocess.run(
        [sys.executable, "-m", "tavo.demo", "--output", str(target)],
        capture_output=True, text=True, timeout=120, cwd=tmp_path, env=env,
    )
    assert run.returncode == 0, run.stderr
    assert run.stderr == ""
    assert "Values the attributes refused:" in run.stdout and "Traceback" not in run.stdout
    assert target.read_text(encoding="utf-8").startswith("<!DOCTYPE html>")


def run_demo(args, tmp_path, prelude=""):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.dirname(tavo.__file__)), env.get("PYTHONPATH", "")])
    code = prelude + "import sys; from tavo import demo; sys.exit(demo.main(sys.argv[1:]))"
    return subprocess.run(
        [sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=120, cwd=tmp_path, env=env
    )


@pytest.mark.no_leakcheck
def test_the_static_demo_needs_no_server_library(tmp_path):
    # As where the live extra is not installed: importing aiohttp fails.
    without = "import sys; sys.modules['aiohttp'] = None; "
    static = run_demo(["--output", str(tmp_path / "page.html")], tmp_path, without)
    assert static.returncode == 0 and static.stderr == ""
    live = run_demo(["--serve"], tmp_path, without)
    assert (live.returncode, live.stderr) == (1, "the live demo needs aiohttp: python3 -m pip install 'tavo[live]'\n")


@pytest.mark.parametrize(
    "args, message",
    [(["--port", "8000"], "--port goes with --serve"), (["--serve", "--port", "70000"], "--port 70000: not a port number")],
)
def test_the_port_is_checked(args, message, capsys):
    with pytest.raises(SystemExit) as exited:
        demo.main(args)
    assert exited.value.code == 2 and message in capsys.readouterr().err


PAGE_TEXT = demo.build_page(DEMO)
VERDICT = demo.read_verdict(PAGE_TEXT)
WITH_ID = [component for component in demo.components_of(DEMO.root) if component.id]


def test_verdict_opens_the_report_above_the_raw_data():
    report = PAGE_TEXT.index("<h2>What the browser made of them</h2>")
    assert report < PAGE_TEXT.index('<table id="verdict">') < PAGE_TEXT.index('<pre id="computed">')
    assert list(VERDICT) == [component.id for component in WITH_ID]


@pytest.mark.parametrize("component", WITH_ID, ids=[component.id for component in WITH_ID])
def test_verdict_has_a_row_per_rendered_value_not_checked_before_the_script(component):
    element = VERDICT[component.id]
    expected = [value for value in demo.rendered_values(component) if value.name != "id"]
    assert [row.value for row in element.rows] == expected
    assert {row.verdict for row in element.rows} == {demo.NOT_CHECKED}
    assert element.summary == demo.NOT_CHECKED


@pytest.mark.parametrize("component", WITH_ID, ids=[component.id for component in WITH_ID])
def test_verdict_rows_cover_every_value_on_the_element(component):
    # Read from the start tag as the page has it, not from the attributes.
    attributes = dict(PAGE.elements[component.id][1])
    rows = {(row.value.kind, row.value.name, row.value.text) for row in VERDICT[component.id].rows}
    on_page = {("class", "class", name) for name in attributes.pop("class", "").split()}
    if "style" in attributes:
        on_page |= {("style", *declaration) for declaration in declarations(attributes.pop("style")).items()}
    attributes.pop("id")
    on_page |= {("element", name, value) for name, value in attributes.items()}
    assert rows == on_page
