"""A few components declared with tavo's HTML attribute classes, rendered as an HTML page.

Run with ``python -m tavo.demo``: it builds a panel holding a text box and two
buttons, assigns values the way a user would, shows the messages of the values
the attributes refuse, and writes the page (``--output PATH``, default a new
temporary directory). ``--print`` prints the page instead. ``--serve`` serves
it as a live page instead (``--port N``, default 8000; needs aiohttp, the live
extra): each page load gets its own components, wired by ``NameCard``, and the
browser follows their changes (see tavo.live).

Every element's ``style``, ``class`` and other attributes come from the
attribute objects its class declares: their ``attrtype`` says where a value
goes, ``attrname`` gives its name on the page and ``attrvalue`` its text. A
small script at the end of the page reports what the browser made of each
value: first a verdict per element, each rendered value marked accepted (the
browser's computed style, class list or DOM property is that value) or
dropped, then the raw data (the inline declarations it parsed, the computed
styles, the attributes and their DOM properties, and, on the static page, the
events the handlers would have sent). On the live page the report is made
again after each batch of updates, from the attributes as they are then.

The functions below build the page without writing it, for tests and for
code that embeds the demo.
"""
from __future__ import annotations

import argparse
import html
import html.parser
import json
import os
import pathlib
import sys
import tempfile
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, TypeVar

import tavo.html
from tavo.core._attributes import (
    _Attribute,
    _BooleanAttribute,
    _BoundedNumericAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
    _ListAttribute,
    _LogicalAttribute,
    _NumericAttribute,
    _VariableListAttribute,
)
from tavo.core._event import EventDispatcher

HtmlAttribute = (
    _Attribute
    | _NumericAttribute
    | _BoundedNumericAttribute
    | _VariableListAttribute
    | _BooleanAttribute
    | _LogicalAttribute
    | _ListAttribute
    | _ColorAttribute
    | _GenericEventAttribute
)
ATTRIBUTE_CLASSES = (
    _Attribute,
    _NumericAttribute,
    _BoundedNumericAttribute,
    _VariableListAttribute,
    _BooleanAttribute,
    _LogicalAttribute,
    _ListAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
)
KINDS = ("style", "class", "element")


def send_to_server(
    obj: Component,
    name: str,
    prevent_default: bool,
    event_args: dict[str, str] | None,
    event_js: str,
    dispatch: bool,
) -> str:
    """Handler code of a client event: send the event and what its handler needs, then run the extra script.

    ``tavo.send(this, name, args)`` names the component by its element (the
    live page's client finds the element's page identifier). `event_args`
    maps the names of what the handler is given to JavaScript expressions
    evaluated when the event fires (``{"text": "this.value"}``); they come
    from the class's declaration, never from what a person typed.
    """
    code = ""
    if prevent_default:
        code += "event.preventDefault();"
    if dispatch:
        fields = ", ".join(f"{json.dumps(key)}: {expression}" for key, expression in (event_args or {}).items())
        code += f"tavo.send(this, {json.dumps(name)}, {{{fields}}});"
    return code + event_js


class Component(EventDispatcher):
    """An element of the page; `children` are components or texts placed inside it."""

    tag = "div"
    id = _Attribute("", attrtype="element")

    def __init__(self, *children: Component | str, **values: Any) -> None:
        super().__init__(**values)
        self.children: list[Component | str] = list(children)


class Button(Component):
    tag = "button"
    type = _Attribute("button", attrtype="element", options=["button", "submit", "reset"])
    onclick = _GenericEventAttribute(
        True,
        send_to_server,
        prevent_default=True,
        eventargs={"source": "event.detail ? 'mouse' : 'keyboard'"},
        eventjs="this.blur();",
        attrtype="element",
    )
    disabled = _BooleanAttribute(False, attrtype="element", sync=True)
    pressed = _LogicalAttribute(None, attrtype="element", attrname="aria-pressed", sync=True)


class TextBox(Component):
    tag = "input"
    kind = _Attribute(
        "text",
        attrtype="element",
        attrname="type",
        options=["text", "email", "secret"],
        values=["text", "email", "password"],
    )
    placeholder = _Attribute("", attrtype="element", sync=True)
    spellcheck = _LogicalAttribute(True, attrtype="element", sync=True)
    read_only = _BooleanAttribute(False, attrtype="element", attrname="readonly", sync=True)
    oninput = _GenericEventAttribute(
        False,
        send_to_server,
        eventargs={"text": "this.value"},
        attrtype="element",
        sync=True,
    )
    width = _NumericAttribute(200, units="px", attrtype="style", options=["auto", "inherit"])
    font_size = _NumericAttribute("12pt", attrtype="style", options=["inherit"])
    margin = _VariableListAttribute([0, 0, 0, 0], attrtype="style", options=["inherit"])
    color = _ColorAttribute(None, attrtype="style", format="css", options=["inherit", "currentcolor"])


class Panel(Component):
    tag = "div"
    classes = _ListAttribute(["panel"], attrtype="class")
    highlighted = _BooleanAttribute(False, attrtype="class")
    background_color = _ColorAttribute("#f0f0f0", attrtype="style", format="css")
    color = _ColorAttribute([0, 0, 0], attrtype="style", format="css")
    padding = _VariableListAttribute("8px", attrtype="style")
    opacity = _BoundedNumericAttribute(1.0, min=0.0, max=1.0, attrtype="style")


@dataclass
class Refusal:
    """A value an attribute refused, with the module's message."""

    component: str
    name: str
    value: Any
    message: str

    def __str__(self) -> str:
        return f"{self.component}.{self.name} = {self.value!r}: {self.message}"


@dataclass
class Demo:
    root: Component
    refusals: list[Refusal]


def attributes_of(component: EventDispatcher) -> list[HtmlAttribute]:
    """The attribute objects a component's class declares, in declaration order (a subclass's own win)."""
    found: dict[str, HtmlAttribute] = {}
    for klass in reversed(type(component).__mro__):
        for name, value in vars(klass).items():
            if isinstance(value, ATTRIBUTE_CLASSES):
                found.pop(name, None)
                found[name] = value
    return list(found.values())


@dataclass(frozen=True)
class RenderedValue:
    """One value a component puts on its element: a style declaration, a class name or an attribute."""

    kind: str  # "style", "class" or "element"
    name: str  # the style property or the attribute name; "class" for a class name
    text: str | None  # the rendered text; None for a boolean attribute, present without a value

    def __str__(self) -> str:
        if self.kind == "style":
            return f"{self.name}: {self.text}"
        if self.kind == "class":
            return f"class {self.text}"
        return self.name if self.text is None else f'{self.name}="{self.text}"'


def rendered_values(component: EventDispatcher) -> list[RenderedValue]:
    """What a component's attributes put on its element, in declaration order.

    A class attribute gives one value per class name (a list attribute renders
    its items separated by commas, a boolean one its name); a boolean element
    attribute gives its name without a value. Attributes that render the empty
    text give nothing.
    """
    values: list[RenderedValue] = []
    for attr in attributes_of(component):
        if attr.attrtype not in KINDS:
            continue
        value = attr.attrvalue(component)
        text = "" if value is None else str(value)
        if text == "":
            continue
        if attr.attrtype == "style":
            values.append(RenderedValue("style", attr.attrname, text))
        elif attr.attrtype == "class":
            values.extend(RenderedValue("class", "class", item) for part in text.split(",") if (item := part.strip()))
        elif isinstance(attr, _BooleanAttribute):
            values.append(RenderedValue("element", text, None))
        else:
            values.append(RenderedValue("element", attr.attrname, text))
    return values


class _StartTagParser(html.parser.HTMLParser):
    """The attributes of the one start tag fed to it, values unescaped."""

    def __init__(self) -> None:
        super().__init__()
        self.attributes: dict[str, str | None] = {}

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        self.attributes = dict(attrs)


def rendered_attributes(component: Component) -> dict[str, str | None]:
    """The attributes of a component's start tag, by name, values unescaped; None stands for a bare attribute."""
    parser = _StartTagParser()
    parser.feed(start_tag(component))
    parser.close()
    return parser.attributes


def start_tag(component: Component) -> str:
    """The HTML start tag of a component (see tavo.html.start_tag for the rules)."""
    return tavo.html.start_tag(component, component.tag)


VOID_TAGS = frozenset({"input", "br", "hr", "img"})


def render_element(component: Component, indent: str = "", page: tavo.html.Page | None = None) -> str:
    """The HTML of a component and its children; on a live `page`, start tags from ``page.start_tag``."""
    tag = start_tag(component) if page is None else page.start_tag(component, component.tag)
    lines = [indent + tag]
    if component.tag in VOID_TAGS:
        return lines[0]
    for child in component.children:
        if isinstance(child, Component):
            lines.append(render_element(child, indent + "  ", page))
        else:
            lines.append(indent + "  " + html.escape(child))
    lines.append(f"{indent}</{component.tag}>")
    return "\n".join(lines)


def components_of(root: Component) -> list[Component]:
    """The root and every component below it, in page order."""
    found = [root]
    for child in root.children:
        if isinstance(child, Component):
            found.extend(components_of(child))
    return found


def try_assign(refusals: list[Refusal], component: Component, name: str, value: Any) -> None:
    """Assign a value, keeping the attribute's message when it is refused."""
    try:
        setattr(component, name, value)
    except (ValueError, TypeError) as error:
        refusals.append(Refusal(type(component).__name__, name, value, str(error)))


def build_demo() -> Demo:
    """The demo's components, with values assigned the way a user would, and the values refused."""
    name = TextBox(id="name", placeholder='Your name, e.g. "Fish & Chips" <Ltd>')
    password = TextBox(id="password", kind="secret")
    save = Button("Save", id="save", type="submit")
    delete = Button("Delete", id="delete")
    panel = Panel(name, password, save, delete, id="panel")

    name.width = "240px"
    name.font_size = "12pt"
    name.margin = "10px 20px"
    name.color = "inherit"
    name.spellcheck = False
    name.oninput = True
    password.width = (16, "em")
    password.margin = [0, "20px", "5px", "1em"]
    password.read_only = True
    save.pressed = True
    delete.disabled = True
    panel.background_color = "#ff8000"
    panel.color = [0, 0, 128, 0.75]
    panel.padding = "12px 1.5em"
    panel.opacity = 0.9
    panel.classes.append("card")
    panel.highlighted = True

    refusals: list[Refusal] = []
    for component, attribute, value in [
        (name, "width", "wide"),
        (name, "width", True),
        (name, "margin", "1px 2px 3px"),
        (name, "kind", "date"),
        (save, "type", "image"),
        (panel, "opacity", 1.5),
        (panel, "background_color", [255, 128]),
        (panel, "classes", "card highlighted"),
    ]:
        try_assign(refusals, component, attribute, value)
    return Demo(panel, refusals)


def component_by_id(root: Component, id: str) -> Component:
    """The component below `root` (or `root`) whose id is `id`; KeyError if there is none."""
    for component in components_of(root):
        if component.id == id:
            return component
    raise KeyError(id)


C = TypeVar("C", bound=Component)


def find(root: Component, id: str, kind: type[C]) -> C:
    """The component of id `id` below `root`, which must be a `kind`."""
    component = component_by_id(root, id)
    if not isinstance(component, kind):
        raise TypeError(f"#{id} is a {type(component).__name__}, not a {kind.__name__}")
    return component


SAVED_COLOR: list[float] = [0, 96, 0]
MISSING_COLOR: list[float] = [200, 0, 0]
SAVED_BACKGROUND = "#c8f0c8"


class NameCard:
    """What the live demo's controls do: a name typed, saved and deleted.

    Typing sends the name field's text: the field widens with it and the
    panel is highlighted while the text is not the saved name. Save keeps the
    text (or marks the field when it is empty): the field is locked, the panel
    turns green, Save shows pressed and Delete is enabled. Delete forgets the
    saved name and undoes all that. Every attribute these change is synced.
    """

    def __init__(self, demo: Demo) -> None:
        root = demo.root
        self.panel = find(root, "panel", Panel)
        self.name = find(root, "name", TextBox)
        self.save = find(root, "save", Button)
        self.delete = find(root, "delete", Button)
        self.text = ""
        self.saved: str | None = None
        self.name.bind(on_input=self.typed)
        self.save.bind(on_click=self.save_clicked)
        self.delete.bind(on_click=self.delete_clicked)

    def typed(self, name: EventDispatcher, args: Any = None, *rest: Any) -> None:
        text = args.get("text") if isinstance(args, dict) else None
        if not isinstance(text, str) or self.saved is not None:
            return  # not what the field sends, or the name is locked
        self.text = text.strip()
        self.name.width = (max(24, len(text) + 4), "ch")
        self.name.color = "inherit"
        self.save.pressed = False
        self.panel.highlighted = bool(self.text)

    def save_clicked(self, save: EventDispatcher, *args: Any) -> None:
        if self.saved is not None:
            return
        if not self.text:
            self.name.color = MISSING_COLOR
            self.name.placeholder = "Type a name first"
            return
        self.saved = self.text
        self.name.read_only = True
        self.name.oninput = False
        self.name.color = SAVED_COLOR
        self.name.font_size = (14, "pt")
        self.save.pressed = True
        self.delete.disabled = False
        self.panel.highlighted = False
        self.panel.classes.append("saved")
        self.panel.background_color = SAVED_BACKGROUND
        self.panel.padding = ["16px", "2em"]
        self.panel.opacity = 1.0

    def delete_clicked(self, delete: EventDispatcher, *args: Any) -> None:
        if self.saved is None:
            return
        self.name.placeholder = f'Deleted "{self.saved}": type a new name'
        self.saved = None
        self.name.read_only = False
        self.name.oninput = True
        self.name.color = "inherit"
        self.name.font_size = "12pt"
        self.save.pressed = False
        self.delete.disabled = True
        self.panel.highlighted = bool(self.text)
        while "saved" in self.panel.classes:
            self.panel.classes.remove("saved")
        self.panel.background_color = "#ff8000"
        self.panel.padding = "12px 1.5em"
        self.panel.opacity = 0.9


def live_page(page: tavo.html.Page) -> str:
    """A live page of the demo: fresh components, wired to their handlers, on `page`."""
    demo = build_demo()
    NameCard(demo)
    return build_page(demo, page)


PAGE_STYLE = """\
body { font-family: sans-serif; color: rgb(32, 32, 32); margin: 2em; }
.panel { border: 1px solid rgb(96, 96, 96); border-radius: 6px; }
.highlighted { box-shadow: 0 0 8px rgb(255, 128, 0); }
button { font-size: 14px; margin: 0 8px 0 0; }
pre { background: rgb(245, 245, 245); padding: 1em; }
#verdict { border-collapse: collapse; margin: 1em 0; }
#verdict th, #verdict td { text-align: left; padding: 0.2em 0.8em; vertical-align: top; }
#verdict tr.dropped { background: rgb(255, 224, 224); }"""

# The static page's stand-in for the live client: it keeps what the handlers
# would send (the live page's client script defines tavo instead).
SEND_STUB = """\
window.tavo = { sent: [], send(target, event, ...args) {
  this.sent.push([typeof target === "string" ? target : target.id, event, ...args]); return true; } };"""

# Fills #computed with what the browser made of the rendered attributes, then
# the verdict table above it (accepted or dropped, per rendered value). On a
# live page it runs again after each batch of updates, its rows made from the
# elements' attributes as they are then.
REPORT_SCRIPT = """\
const CHECKS = %s;
const LIVE = %s;
const SIDES = ["top", "right", "bottom", "left"];
const PROPERTY_NAMES = { "readonly": "readOnly", "aria-pressed": "ariaPressed" };
function rawData() {
  const report = { elements: {}, sent: window.tavo && window.tavo.sent ? window.tavo.sent : null };
  for (const [id, check] of Object.entries(CHECKS)) {
    const element = document.getElementById(id);
    const computed = getComputedStyle(element);
    const entry = { tag: element.tagName.toLowerCase(), classes: [...element.classList],
                    inline: {}, computed: {}, attributes: {}, properties: {} };
    for (const name of check.style) {
      entry.inline[name] = element.style.getPropertyValue(name);
      entry.computed[name] = computed.getPropertyValue(name);
      if (name === "margin" || name === "padding") {
        for (const side of SIDES) {
          entry.computed[name + "-" + side] = computed.getPropertyValue(name + "-" + side);
        }
      }
    }
    for (const name of check.element) {
      entry.attributes[name] = element.getAttribute(name);
      const value = element[PROPERTY_NAMES[name] || name];
      entry.properties[name] = typeof value === "function" ? "function" : (value === undefined ? null : value);
    }
    report.elements[id] = entry;
  }
  return report;
}
// The verdict: each rendered value is accepted when what the browser computed
// (a style) or reflects (a class, an attribute's DOM property) is that value,
// dropped when it is not.
function judgeStyle(element, name) {
  const declared = element.style.getPropertyValue(name);
  if (declared === "") {
    return ["dropped", "the CSS parser refused the declaration"];
  }
  const computed = getComputedStyle(element).getPropertyValue(name);
  const saved = element.getAttribute("style");
  element.style.setProperty(name, declared, "important");
  const own = getComputedStyle(element).getPropertyValue(name);
  element.setAttribute("style", saved);
  return computed === own ? ["accepted", "computed " + computed]
                          : ["dropped", "computed " + computed + ": another rule wins over " + own];
}
function judgeClass(element, name) {
  return element.classList.contains(name) ? ["accepted", "in the class list"]
                                          : ["dropped", "the class list is " + JSON.stringify([...element.classList])];
}
function resolvesTo(text, value) {
  try { return new URL(text, document.baseURI).href === value; } catch (error) { return false; }
}
function judgeAttribute(element, name, text) {
  const expected = text === null ? "" : text;
  const attribute = element.getAttribute(name);
  if (attribute !== expected) {
    return ["dropped", "the attribute reads " + JSON.stringify(attribute)];
  }
  if (name.startsWith("on") && name in element) {
    return typeof element[name] === "function" ? ["accepted", "a handler function"]
                                               : ["dropped", "the handler code did not compile"];
  }
  const value = element[PROPERTY_NAMES[name] || name];
  if (value === undefined || value === null) {
    return ["accepted", "kept as an attribute"];
  }
  const shown = String(value);
  const reflects = typeof value === "boolean"
    ? (text === null ? value : shown === expected.toLowerCase())
    : shown.toLowerCase() === expected.toLowerCase() || (typeof value === "string" && resolvesTo(expected, value));
  return [reflects ? "accepted" : "dropped", "the DOM property reads " + JSON.stringify(value)];
}
// The declarations of a style text: split at the semicolons outside quotes and brackets.
function declarationsOf(text) {
  const found = [];
  let depth = 0, quote = "", start = 0;
  for (let i = 0; i <= text.length; i++) {
    const c = text[i];
    if (quote) {
      if (c === "\\\\") { i++; } else if (c === quote) { quote = ""; }
    } else if (c === '"' || c === "'") { quote = c; }
    else if (c === "(" || c === "[") { depth++; }
    else if (c === ")" || c === "]") { depth--; }
    else if (i === text.length || (c === ";" && depth === 0)) {
      const part = text.slice(start, i).trim();
      const colon = part.indexOf(":");
      if (colon > 0) { found.push([part.slice(0, colon).trim(), part.slice(colon + 1).trim()]); }
      start = i + 1;
    }
  }
  return found;
}
// The rows of an element as its attributes are now, in their order on the element.
function currentRows(element) {
  const rows = [];
  for (const { name, value } of element.attributes) {
    if (name === "id" || name === LIVE.attribute) {
      continue;
    }
    if (name === "style") {
      for (const [property, text] of declarationsOf(value)) {
        rows.push(["style", property, property + ": " + text, text]);
      }
    } else if (name === "class") {
      for (const item of value.split(/\\s+/).filter(Boolean)) {
        rows.push(["class", "class", "class " + item, item]);
      }
    } else if (value === "") {
      rows.push(["element", name, name, null]);  // a boolean attribute: no rendering is empty otherwise
    } else {
      rows.push(["element", name, name + '="' + value + '"', value]);
    }
  }
  return rows;
}
function remakeRows(body, element) {
  for (const row of body.querySelectorAll("tr[data-kind]")) {
    row.remove();
  }
  for (const [kind, name, shown, text] of currentRows(element)) {
    const row = document.createElement("tr");
    row.dataset.kind = kind;
    row.dataset.name = name;
    if (text !== null) {
      row.dataset.value = text;
    }
    const cell = row.insertCell();
    cell.appendChild(document.createElement("code")).textContent = shown;
    row.insertCell().className = "verdict";
    row.insertCell().className = "seen";
    body.appendChild(row);
  }
}
function judgeAll() {
  for (const body of document.querySelectorAll("#verdict tbody[data-element]")) {
    const element = document.getElementById(body.dataset.element);
    if (LIVE) {
      remakeRows(body, element);
    }
    const counts = { accepted: 0, dropped: 0 };
    for (const row of body.querySelectorAll("tr[data-kind]")) {
      const name = row.dataset.name;
      const text = row.hasAttribute("data-value") ? row.dataset.value : null;
      const [verdict, seen] = row.dataset.kind === "style" ? judgeStyle(element, name)
        : row.dataset.kind === "class" ? judgeClass(element, text) : judgeAttribute(element, name, text);
      counts[verdict] += 1;
      row.className = verdict;
      row.querySelector(".verdict").textContent = verdict;
      row.querySelector(".seen").textContent = seen;
    }
    body.querySelector(".summary").textContent =
      counts.accepted + " accepted" + (counts.dropped ? ", " + counts.dropped + " dropped" : "");
  }
  document.getElementById("computed").textContent = JSON.stringify(rawData(), null, 2);
}
judgeAll();
if (LIVE) {
  document.addEventListener("tavo:batch", judgeAll);
}"""


def page_checks(root: Component) -> dict[str, dict[str, list[str]]]:
    """For each component with an id, the style and element attribute names its script reports."""
    checks: dict[str, dict[str, list[str]]] = {}
    for component in components_of(root):
        if not component.id:
            continue
        names: dict[str, list[str]] = {"style": [], "element": []}
        for attr in attributes_of(component):
            if attr.attrtype in names and attr.attrname != "id":
                names[str(attr.attrtype)].append(attr.attrname)
        checks[component.id] = names
    return checks


NOT_CHECKED = "not checked"


def verdict_table(root: Component) -> str:
    """The verdict, one body per element with an id and one row per rendered value, each not checked yet.

    The page's script marks each row accepted or dropped and counts them in
    the element's heading; without JavaScript the rows stay not checked.
    """
    esc = html.escape
    lines = ['<table id="verdict">', "<thead><tr><th>rendered</th><th>verdict</th><th>the browser</th></tr></thead>"]
    for component in components_of(root):
        if not component.id:
            continue
        lines.append(f'<tbody data-element="{esc(component.id)}">')
        lines.append(
            f'<tr><th colspan="3">#{esc(component.id)} &lt;{component.tag}&gt;: '
            f'<span class="summary">{NOT_CHECKED}</span></th></tr>'
        )
        for value in rendered_values(component):
            if value.kind == "element" and value.name == "id":
                continue
            data = f'data-kind="{value.kind}" data-name="{esc(value.name)}"'
            if value.text is not None:
                data += f' data-value="{esc(value.text)}"'
            lines.append(
                f'<tr {data}><td><code>{esc(str(value))}</code></td>'
                f'<td class="verdict">{NOT_CHECKED}</td><td class="seen"></td></tr>'
            )
        lines.append("</tbody>")
    lines.append("</table>")
    return "\n".join(lines)


@dataclass
class VerdictRow:
    value: RenderedValue
    verdict: str
    seen: str


@dataclass
class ElementVerdict:
    summary: str
    rows: list[VerdictRow]


class _VerdictReader(html.parser.HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.found: dict[str, ElementVerdict] = {}
        self._element: ElementVerdict | None = None
        self._cell = ""

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        given = dict(attrs)
        if tag == "tbody" and given.get("data-element") is not None:
            self._element = self.found[str(given["data-element"])] = ElementVerdict("", [])
        elif self._element is None:
            return
        elif tag == "tr" and given.get("data-kind") is not None:
            value = RenderedValue(str(given["data-kind"]), str(given.get("data-name")), given.get("data-value"))
            self._element.rows.append(VerdictRow(value, "", ""))
        elif given.get("class") in ("summary", "verdict", "seen"):
            self._cell = str(given["class"])

    def handle_endtag(self, tag: str) -> None:
        if tag == "tbody":
            self._element = None
        if tag in ("span", "td"):
            self._cell = ""

    def handle_data(self, data: str) -> None:
        if self._element is None or not self._cell:
            return
        if self._cell == "summary":
            self._element.summary += data
        elif self._element.rows:
            row = self._element.rows[-1]
            setattr(row, self._cell, getattr(row, self._cell) + data)


def read_verdict(page: str) -> dict[str, ElementVerdict]:
    """The verdict table of a page by element id, as built or as a browser left it (``chromium --dump-dom``)."""
    reader = _VerdictReader()
    reader.feed(page)
    reader.close()
    return reader.found


def script_json(value: object) -> str:
    """JSON that can stand inside a script element."""
    return json.dumps(value).replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")


def build_page(demo: Demo | None = None, page: tavo.html.Page | None = None) -> str:
    """The demo page: the components, the refused values and the browser's report.

    With a `page`, the live page: the start tags come from ``page.start_tag``
    (each element gets the page's identifier), the page has no stand-in for
    the client (the server adds the live client script), and the report runs
    again after each batch of updates.
    """
    demo = demo or build_demo()
    refused = "\n".join(
        f"  <li><code>{html.escape(f'{r.component}.{r.name} = {r.value!r}')}</code>: {html.escape(r.message)}</li>"
        for r in demo.refusals
    )
    live = None if page is None else {"attribute": page.id_attribute}
    script = (SEND_STUB + "\n" if page is None else "") + REPORT_SCRIPT % (
        script_json(page_checks(demo.root)),
        script_json(live),
    )
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>tavo demo</title>
<style>
{PAGE_STYLE}
</style>
</head>
<body>
<h1>tavo demo</h1>
<p>Each element's style, class and attributes below come from the attribute classes its component declares.</p>
{render_element(demo.root, page=page)}
<h2>Values the attributes refused</h2>
<ul id="refused">
{refused}
</ul>
<h2>What the browser made of them</h2>
<p>Each rendered value is <em>accepted</em> when the browser's computed style, class list or DOM property
is that value, <em>dropped</em> when it is not (this check needs JavaScript).</p>
{verdict_table(demo.root)}
<h3>Raw data</h3>
<pre id="computed">(this report needs JavaScript)</pre>
<script>
{script}
</script>
</body>
</html>
"""


def write_page(page: str, output: str | None) -> str:
    """Write the page to `output`, or to index.html in a new temporary directory; returns the path."""
    if output is None:
        output = os.path.join(tempfile.mkdtemp(prefix="tavo-demo-"), "index.html")
    with open(output, "w", encoding="utf-8") as file:
        file.write(page)
    return os.path.abspath(output)


def serve(port: int) -> int:
    """Serve the live demo on the loopback address until interrupted."""
    try:
        from tavo.live import LiveServer
    except ModuleNotFoundError as error:
        if error.name is None or error.name.partition(".")[0] != "aiohttp":
            raise
        print("the live demo needs aiohttp: python3 -m pip install 'tavo[live]'", file=sys.stderr)
        return 1
    server = LiveServer(live_page, host="127.0.0.1", port=port)
    try:
        server.run(lambda address: print(f"Serving the live demo at {address} (Ctrl-C to stop)", flush=True))
    except OSError as error:
        print(f"cannot serve on port {port}: {error}", file=sys.stderr)
        return 1
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m tavo.demo",
        description="Render a few tavo components as an HTML page, or serve them as a live page (--serve).",
    )
    parser.add_argument("-o", "--output", metavar="PATH", help="write the page to PATH (default: a new temporary directory)")
    parser.add_argument("--print", dest="print_page", action="store_true", help="print the page instead of writing it")
    parser.add_argument(
        "--serve", action="store_true", help="serve the live demo on this machine (needs the live extra: aiohttp)"
    )
    parser.add_argument(
        "--port", type=int, metavar="N", help="the live demo's port (default 8000; 0: any free port)"
    )
    args = parser.parse_args(argv)
    if args.port is not None and not args.serve:
        parser.error("--port goes with --serve")
    if args.port is not None and not 0 <= args.port <= 65535:
        parser.error(f"--port {args.port}: not a port number")
    if args.serve:
        return serve(8000 if args.port is None else args.port)

    demo = build_demo()
    page = build_page(demo)
    if args.print_page:
        sys.stdout.write(page)
        return 0
    print("Components, as their start tags:")
    for component in components_of(demo.root):
        print("  " + start_tag(component))
    print("\nValues the attributes refused:")
    for refusal in demo.refusals:
        print(f"  {refusal}")
    try:
        path = write_page(page, args.output)
    except OSError as error:
        print(f"\ncannot write the page: {error}", file=sys.stderr)
        return 1
    print(f"\nPage written to {path}\nOpen it in a browser: {pathlib.Path(path).as_uri()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
