"""A page of components: what a user's unit of work costs.

A card component declares 20 attributes: 8 texts, 4 numbers with units, a
margin, a colour, 4 flags, an event and a logical attribute. A page of N
cards is made, each card given 7 values, and every card's start tag rendered;
the time per card is the page's time divided by N. The native side uses the
attribute classes of tavo.core._attributes and ``tavo.html.start_tag``; the
peer side the pure-Python attribute classes of bench/peers.py and
``start_tag`` below, which applies the same tag rules in Python. Both sides
run on the same property system, so the ratio of the two measures what the
native attribute classes and the native rendering earn.

The component cost: creating a component with 20 attributes (10 texts, 5
numbers with units, 5 flags) against a plain Python object whose
``__init__`` stores 20 fields, in time and in bytes (tracemalloc).

Nothing here needs pyperf: tests/test_bench_page.py checks that both sides
give the same tags.
"""
import gc
import html
import re
import time
import tracemalloc

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

from bench import peers

PAGE_SIZES = (100, 1_000, 10_000)
ATTRIBUTE_CLASSES = (
    _Attribute, _NumericAttribute, _BoundedNumericAttribute, _VariableListAttribute, _BooleanAttribute,
    _LogicalAttribute, _ListAttribute, _ColorAttribute, _GenericEventAttribute,
)

# ---- the tag rules in Python ------------------------------------------------------

# The characters an HTML attribute name cannot hold: whitespace and other
# controls, quotes, ">", "/", "=" and the noncharacters.
_NONCHARACTERS = "\ufdd0-\ufdef" + "".join(
    f"{chr(plane << 16 | 0xFFFE)}{chr(plane << 16 | 0xFFFF)}" for plane in range(17)
)
_INVALID_NAME = re.compile(f"[\\x00-\\x20\"'>/=\\x7f-\\x9f{_NONCHARACTERS}]")
_TAG_NAME = re.compile(f"[A-Za-z][^\\x00-\\x20\"'<>/=\\x7f-\\x9f{_NONCHARACTERS}]*\\Z")
KINDS = ("style", "class", "element")


def check_tag(tag):
    if not isinstance(tag, str):
        raise TypeError(f"the tag must be a str, not {type(tag).__name__}")
    if not _TAG_NAME.match(tag):
        raise ValueError(f"not a valid tag name: {tag!r}")


def valid_attribute_name(name):
    return isinstance(name, str) and name != "" and not _INVALID_NAME.search(name)


def declared(cls, attribute_classes):
    """(class attribute name, attribute object) in declaration order: the class
    bodies along the reversed MRO, a name first seen in a base keeping its place
    when a subclass redefines it; what the name finds on the class now is used,
    and skipped when it is not an attribute."""
    names = {}
    for klass in reversed(cls.__mro__):
        names.update(dict.fromkeys(vars(klass)))
    found = []
    for name in names:
        for klass in cls.__mro__:
            if name in vars(klass):
                value = vars(klass)[name]
                if isinstance(value, attribute_classes):
                    found.append((name, value))
                break
    return found


def _noted(error, component, name):
    error.add_note(f"while rendering {type(component).__name__}.{name}")


# A style value stays its declaration's value (what a person typed may reach
# it): the characters that could end it, open a rule or swallow what follows.
# Values with none of those characters, or with brackets of one level only
# (rgb(51, 102, 153)), are told at once; the others are read character by
# character.
_OUTSIDE = r"[^;{}()\[\]\"'\\/\n\r\f]*"
_SIMPLE_STYLE = re.compile(_OUTSIDE + r"(?:\([^()\[\]\"'\\/\n\r\f]*\)" + _OUTSIDE + ")*")
_STYLE_RULE = ("a style value holds ;, { and } only inside quotes or brackets, closes its quotes and brackets, "
               "and holds no comment")


def style_value_fault(text):
    """None for a contained style value, else what it holds that is not."""
    if _SIMPLE_STYLE.fullmatch(text):
        return None
    quote, depth, i = "", 0, 0
    while i < len(text):
        c = text[i]
        i += 1
        if c == "\\":
            i += 1
        elif quote:
            if c == quote:
                quote = ""
            elif c in "\n\r\f":
                return "a line break inside quotes"
        elif c in "\"'":
            quote = c
        elif c in "([":
            depth += 1
        elif c in ")]":
            if not depth:
                return "a closing bracket that closes nothing"
            depth -= 1
        elif c == "/" and text[i:i + 1] == "*":
            return "a comment"
        elif c == ";" and not depth:
            return "';' outside quotes and brackets"
        elif c in "{}" and not depth:
            return "a brace outside quotes and brackets"
    if quote:
        return "a quote it does not close"
    return "a bracket it does not close" if depth else None


def layout_of(component, attribute_classes, boolean_class, found=None):
    """What the tag rules need of the declared attributes, checked: a list of
    (class attribute name, attribute, attrtype, page name, bare) for those whose
    attrtype is style, class or element. `found` gives the declared attributes
    (default: found anew)."""
    owner = type(component).__name__
    described = []
    for name, attr in found if found is not None else declared(type(component), attribute_classes):
        try:
            kind = attr.attrtype
            kind = kind if isinstance(kind, str) and kind in KINDS else None
            page_name = attr.attrname if kind in ("style", "element") else None
        except BaseException as error:
            _noted(error, component, name)
            raise
        if kind is not None:
            described.append((name, attr, kind, page_name))
    given = {}  # attribute of the tag -> (class attribute name, attrtype) of the first to give it
    for name, attr, kind, page_name in described:
        if kind != "class" and not valid_attribute_name(page_name):
            raise ValueError(f"{owner}.{name} has the page name {page_name!r}, which is not a valid HTML attribute name")
        tag_attribute = page_name if kind == "element" else kind
        if tag_attribute in given and (kind == "element" or given[tag_attribute][1] == "element"):
            raise ValueError(
                f"{owner}.{given[tag_attribute][0]} and {owner}.{name} both give the attribute {tag_attribute!r}"
            )
        given.setdefault(tag_attribute, (name, kind))
    return [(name, attr, kind, page_name, kind == "element" and isinstance(attr, boolean_class))
            for name, attr, kind, page_name in described]


def render(entries, component, tag):
    """The start tag from a checked layout (see layout_of)."""
    check_tag(tag)
    parts = ["<" + tag]
    styles, classes = [], []
    for name, attr, kind, page_name, bare in entries:
        try:
            value = attr.attrvalue(component)
            text = value if value is None or isinstance(value, str) else str(value)
        except BaseException as error:
            _noted(error, component, name)
            raise
        if not text:
            continue
        if kind == "element":
            parts.append(page_name if bare else f'{page_name}="{html.escape(text)}"')
        elif kind == "style":
            fault = style_value_fault(text)
            if fault:
                error = ValueError(f"{type(component).__name__}.{name} gives the style value {text!r}, which holds "
                                   f"{fault}: {_STYLE_RULE}")
                _noted(error, component, name)
                raise error
            if not styles:
                parts.append(styles)
            styles.append(f"{page_name}: {text}")
        else:
            items = [item for item in text.split(", ") if item]
            if items and not classes:
                parts.append(classes)
            classes.extend(items)
    for index, part in enumerate(parts):
        if part is styles:
            parts[index] = f'style="{html.escape("; ".join(styles))}"'
        elif part is classes:
            parts[index] = f'class="{html.escape(" ".join(classes))}"'
    return " ".join(parts) + ">"


def start_tag_with(attribute_classes, boolean_class, component, tag):
    """The start tag of `component`, its attributes being the instances of
    `attribute_classes` its class declares, found and checked anew;
    instances of `boolean_class` appear as bare names."""
    check_tag(tag)
    return render(layout_of(component, attribute_classes, boolean_class), component, tag)


PEER_CLASSES = tuple(getattr(peers, name) for name in peers.__all__)
_peer_layouts = {}


def start_tag(component, tag):
    """The peer side's rendering function: the tag rules above on the peer
    attribute classes, the layout found and checked once per class (as a
    user's own function would keep it)."""
    entries = _peer_layouts.get(type(component))
    if entries is None:
        entries = _peer_layouts[type(component)] = layout_of(component, PEER_CLASSES, peers.PyBooleanAttribute)
    return render(entries, component, tag)


# ---- the card ---------------------------------------------------------------------

def _card_class(name, text, numeric, margin, color, flag, event, logical):
    namespace = dict(
        id=text("", attrtype="element"),
        title=text("", attrtype="element"),
        name=text("", attrtype="element"),
        role=text("group", attrtype="element"),
        lang=text("en", attrtype="element"),
        tooltip=text("", attrtype="element", attrname="aria-label"),
        variant=text("card", attrtype="class", options=["card", "card primary", "card muted"]),
        text_align=text("left", attrtype="style", options=["left", "center", "right"]),
        width=numeric(240, units="px", attrtype="style", options=["auto"]),
        height=numeric(120, units="px", attrtype="style", options=["auto"]),
        font_size=numeric(12, units="pt", attrtype="style"),
        border_radius=numeric(4, units="px", attrtype="style"),
        margin=margin([0, 0, 0, 0], attrtype="style"),
        color=color([32, 32, 32], attrtype="style", format="css", options=["inherit"]),
        hidden=flag(False, attrtype="element"),
        disabled=flag(False, attrtype="element"),
        read_only=flag(False, attrtype="element", attrname="readonly"),
        required=flag(False, attrtype="element"),
        onclick=event(False, "tavo.send(this.id, 'click')", attrtype="element"),
        draggable=logical(None, attrtype="element"),
    )
    return type(name, (EventDispatcher,), namespace)


Card = _card_class("Card", _Attribute, _NumericAttribute, _VariableListAttribute, _ColorAttribute,
                   _BooleanAttribute, _GenericEventAttribute, _LogicalAttribute)
PyCard = _card_class("Card", peers.PyAttribute, peers.PyNumericAttribute, peers.PyVariableListAttribute,
                     peers.PyColorAttribute, peers.PyBooleanAttribute, peers.PyGenericEventAttribute,
                     peers.PyLogicalAttribute)

# The 7 values each card is given, different from card to card, made before timing.
COLORS = ("#336699", "#ff8000", "#202020", "#0a0")


def card_values(count):
    return [
        (f"card-{i}", f"Card {i} of {count}", f"{200 + i % 100}px", "8px 16px", COLORS[i % 4], i % 3 == 0,
         i % 2 == 0)
        for i in range(count)
    ]


def page_source(native):
    """The timed page: make `size` cards, give each its 7 values, render every start tag."""
    return (
        "def run(loops, card_class, render, values):\n"
        "    enabled = _gc.isenabled()\n"
        "    _gc.enable()\n"
        "    start = _clock()\n"
        "    for _ in _range(loops):\n"
        "        page = []\n"
        "        for id, title, width, margin, color, disabled, onclick in values:\n"
        "            card = card_class()\n"
        "            card.id = id\n"
        "            card.title = title\n"
        "            card.width = width\n"
        "            card.margin = margin\n"
        "            card.color = color\n"
        "            card.disabled = disabled\n"
        "            card.onclick = onclick\n"
        "            page.append(card)\n"
        "        tags = [render(card, 'div') for card in page]\n"
        "        del page, tags\n"
        "    elapsed = _clock() - start\n"
        "    if not enabled:\n"
        "        _gc.disable()\n"
        "    return elapsed\n"
    )


def _compiled(source, label):
    namespace = {"_clock": time.perf_counter, "_range": range, "_gc": gc}
    exec(compile(source, f"<bench {label}>", "exec"), namespace)
    return namespace["run"]


def native_start_tag():
    from tavo.html import start_tag as native

    return native


def page_timer(native, size):
    """(function, arguments, operations per loop) of a page of `size` cards."""
    run = _compiled(page_source(native), f"page {size}")
    render = native_start_tag() if native else start_tag
    return run, (Card if native else PyCard, render, card_values(size)), size


def check_page(size=50):
    """The native and the peer page give the same tags."""
    render = native_start_tag()
    for (id, title, width, margin, color, disabled, onclick) in card_values(size):
        tags = []
        for card_class, tag_function in ((Card, render), (PyCard, start_tag)):
            card = card_class()
            card.id, card.title, card.width, card.margin = id, title, width, margin
            card.color, card.disabled, card.onclick = color, disabled, onclick
            tags.append(tag_function(card, "div"))
        assert tags[0] == tags[1], tags


# ---- the component cost -----------------------------------------------------------

def _component_class():
    namespace = {}
    for i in range(10):
        namespace[f"text_{i}"] = _Attribute("", attrtype="element")
    for i in range(5):
        namespace[f"size_{i}"] = _NumericAttribute(10, units="px", attrtype="style")
    for i in range(5):
        namespace[f"flag_{i}"] = _BooleanAttribute(False, attrtype="element")
    return type("Component20", (EventDispatcher,), namespace)


Component20 = _component_class()


class Plain20:
    """A plain Python object holding 20 fields."""

    def __init__(self):
        self.text_0 = self.text_1 = self.text_2 = self.text_3 = self.text_4 = ""
        self.text_5 = self.text_6 = self.text_7 = self.text_8 = self.text_9 = ""
        self.size_0 = self.size_1 = self.size_2 = self.size_3 = self.size_4 = 10
        self.flag_0 = self.flag_1 = self.flag_2 = self.flag_3 = self.flag_4 = False


CREATE_UNROLL = 20


def creation_timer(cls):
    """(function, arguments, operations per loop) creating instances of `cls`."""
    body = "".join("        cls()\n" for _ in range(CREATE_UNROLL))
    run = _compiled(
        "def run(loops, cls):\n"
        "    start = _clock()\n"
        f"    for _ in _range(loops):\n{body}"
        "    return _clock() - start\n",
        f"create {cls.__name__}",
    )
    return run, (cls,), CREATE_UNROLL


def bytes_per_instance(cls, count=2_000):
    """Bytes allocated per live instance of `cls` (tracemalloc), the class's own
    preparation (first instance) left out."""
    keep = [cls()]
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        keep.extend(cls() for _ in range(count))
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    # the list holding them: one pointer per instance
    return (after - before) / count - 8
