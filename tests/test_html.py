"""tavo.html.start_tag: a component's start tag from the attributes its class declares."""
import gc
import html
import pathlib
import sys
import weakref

import pytest

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
from tavo.core.properties import StringProperty
from tavo.html import start_tag

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import page  # noqa: E402

def reference(component, tag="div"):
    """The same rules in Python (bench/page.py), found anew on every call."""
    return page.start_tag_with(page.ATTRIBUTE_CLASSES, _BooleanAttribute, component, tag)


def component(**declarations):
    return type("Card", (EventDispatcher,), declarations)()


def failure(call):
    with pytest.raises(BaseException) as caught:
        call()
    return caught.value


# ---- what a tag holds -------------------------------------------------------------

@pytest.mark.parametrize(
    "declarations, expected",
    [
        ({}, "<div>"),
        ({"title": StringProperty("plain property"), "size": 3}, "<div>"),
        ({"id": _Attribute("main", attrtype="element")}, '<div id="main">'),
        ({"data_role": _Attribute("x", attrtype="element")}, '<div data-role="x">'),
        ({"note": _Attribute("x")}, "<div>"),  # attrtype "" is not rendered
        ({"note": _Attribute("x", attrtype=None)}, "<div>"),
        ({"note": _Attribute("x", attrtype="data")}, "<div>"),
        ({"note": _Attribute("", attrtype="element")}, "<div>"),  # empty rendering
        ({"width": _NumericAttribute(10, units="px", attrtype="style"),
          "id": _Attribute("a", attrtype="element"),
          "opacity": _BoundedNumericAttribute(0.5, min=0, max=1, attrtype="style")},
         '<div style="width: 10px; opacity: 0.5" id="a">'),
        ({"id": _Attribute("a", attrtype="element"),
          "hidden": _Attribute("", attrtype="style"),
          "margin": _VariableListAttribute([1, 2], length=4, attrtype="style")},
         '<div id="a" style="margin: 1 2 1 2">'),
        ({"classes": _ListAttribute(["a", "b"], attrtype="class"),
          "theme": _Attribute("dark wide", attrtype="class"),
          "active": _BooleanAttribute(True, attrtype="class")},
         '<div class="a b dark wide active">'),
        ({"id": _Attribute("a", attrtype="element"),
          "empty": _ListAttribute([], attrtype="class"),
          "blank": _ListAttribute(["", ""], attrtype="class"),
          "theme": _Attribute("dark", attrtype="class")},
         '<div id="a" class="dark">'),
        ({"disabled": _BooleanAttribute(True, attrtype="element"),
          "read_only": _BooleanAttribute(False, attrtype="element", attrname="readonly"),
          "draggable": _LogicalAttribute(False, attrtype="element"),
          "spellcheck": _LogicalAttribute(None, attrtype="element")},
         '<div disabled draggable="false">'),
        ({"onclick": _GenericEventAttribute(True, "go(this)", attrtype="element"),
          "onblur": _GenericEventAttribute(False, "stop()", attrtype="element"),
          "color": _ColorAttribute([255, 0, 0], attrtype="style", format="css"),
          "coords": _ListAttribute([1, 2], attrtype="element")},
         '<div onclick="go(this)" style="color: rgb(255, 0, 0)" coords="1, 2">'),
    ],
)
def test_attributes_land_where_their_attrtype_says(declarations, expected):
    card = component(**declarations)
    assert start_tag(card, "div") == expected
    assert reference(card) == expected


@pytest.mark.parametrize("size", [1, 200, 5000])
@pytest.mark.parametrize("last", ["plain", "caf\u00e9", "\U0001f600"])
def test_long_tags_and_a_last_text_of_another_width(size, last):
    # ASCII tags are written in one pass into a buffer that grows; a wider
    # text met late makes the tag be written again the general way.
    card = component(
        title=_Attribute('<"&">' * size, attrtype="element"),
        lang=_Attribute("x" * size, attrtype="element"),
        font_family=_Attribute(last, attrtype="style"),
    )
    title = html.escape('<"&">', quote=True) * size
    expected = f'<div title="{title}" lang="{"x" * size}" style="font-family: {last}">'
    assert start_tag(card, "div") == expected == reference(card)


@pytest.mark.parametrize(
    "text",
    ['Fish & "Chips" <Ltd>', "it's", "&amp; already", "caf\u00e9 <b>", "\u20ac & \u4e2d", "\U0001f600 > 1",
     "plain"],
)
def test_values_are_escaped_in_every_kind_and_text_width(text):
    # A text that would not stay one style value (an open quote, a ;) is tried
    # quoted there.
    style_text = text if page.style_value_fault(text) is None else repr(text)
    card = component(
        title=_Attribute(text, attrtype="element"),
        font_family=_Attribute(style_text, attrtype="style"),
        theme=_ListAttribute([text, "x"], attrtype="class"),
    )
    escaped = html.escape(text, quote=True)
    items = " ".join(item for item in html.escape(text).split(", ") if item)
    style = html.escape(style_text, quote=True)
    assert start_tag(card, "p") == f'<p title="{escaped}" style="font-family: {style}" class="{items} x">'
    assert start_tag(card, "p") == reference(card, "p")


STYLE_RULE = ("a style value holds ;, { and } only inside quotes or brackets, closes its quotes and brackets, "
              "and holds no comment")


@pytest.mark.parametrize(
    "value, fault",
    [
        ("red; background: url(evil)", "';' outside quotes and brackets"),
        ("red} p { color: blue", "a brace outside quotes and brackets"),
        ("{", "a brace outside quotes and brackets"),
        ("red /* the rest", "a comment"),
        ("url(a /* b */)", "a comment"),
        ("'Comic Sans", "a quote it does not close"),
        ('"a\nb"', "a line break inside quotes"),
        ("url(a", "a bracket it does not close"),
        ("a) b (", "a closing bracket that closes nothing"),
        ("calc(1px + [2px)", "a bracket it does not close"),
        ("url(data:image/png;base64,iVBO)", None),
        ("'Comic; Sans', \"Open } Sans\", serif", None),
        ("a\\;b", None),  # an escaped ; is no separator
        ("attr(data-x)", None),
        ("'/* not a comment */'", None),
        ("10px", None),
    ],
)
@pytest.mark.parametrize("cls", [_Attribute, _ListAttribute])
def test_a_style_value_may_not_leave_its_declaration(value, fault, cls):
    card = component(size=_Attribute("1px", attrtype="style"),
                     font=cls(value if cls is _Attribute else [value], attrtype="style"))
    if fault is None:
        assert start_tag(card, "div") == reference(card) == f'<div style="size: 1px; font: {html.escape(value)}">'
        return
    native = failure(lambda: start_tag(card, "div"))
    assert type(native) is ValueError
    assert str(native) == f"Card.font gives the style value {value!r}, which holds {fault}: {STYLE_RULE}"
    assert native.__notes__ == ["while rendering Card.font"]
    python = failure(lambda: reference(card))
    assert (type(python), str(python), python.__notes__) == (ValueError, str(native), native.__notes__)
    # Element and class renderings of the same text are escaped, not refused.
    card = component(title=cls(value if cls is _Attribute else [value], attrtype="element"))
    assert start_tag(card, "div") == reference(card)


def test_page_names_may_hold_any_allowed_character():
    card = component(
        a=_Attribute("1", attrtype="element", attrname="data-\u00e9t\u00e9"),
        b=_Attribute("2", attrtype="element", attrname="x-\u4e2d&<"),
        c=_Attribute("3", attrtype="style", attrname="--\U0001f600"),
    )
    expected = '<div data-\u00e9t\u00e9="1" x-\u4e2d&<="2" style="--\U0001f600: 3">'
    assert start_tag(card, "div") == expected == reference(card)


def test_many_attributes():
    declarations = {f"a{i}": _Attribute(f"v{i}", attrtype="element") for i in range(60)}
    declarations.update({f"s{i}": _NumericAttribute(i, units="px", attrtype="style") for i in range(40)})
    card = component(**declarations)
    tag = start_tag(card, "div")
    assert tag == reference(card)
    assert tag.count("=") == 61 and "s39: 39px" in tag


# ---- which attributes, in which order ------------------------------------------------

class Base(EventDispatcher):
    id = _Attribute("base", attrtype="element")
    width = _NumericAttribute(1, units="px", attrtype="style")
    title = _Attribute("t", attrtype="element")
    hidden = _BooleanAttribute(True, attrtype="element")


class Redefining(Base):
    name = _Attribute("n", attrtype="element")
    width = _NumericAttribute(2, units="em", attrtype="style")  # at the base's place
    id = _Attribute("derived", attrtype="element")
    title = None  # no longer an attribute
    height = _NumericAttribute(3, units="px", attrtype="style")


class Mixin:
    role = _Attribute("group", attrtype="element")


class Mixed(Redefining, Mixin):
    pass


@pytest.mark.parametrize(
    "cls, expected",
    [
        (Base, '<div id="base" style="width: 1px" title="t" hidden>'),
        (Redefining, '<div id="derived" style="width: 2em; height: 3px" hidden name="n">'),
        (Mixed, '<div role="group" id="derived" style="width: 2em; height: 3px" hidden name="n">'),
    ],
)
def test_declaration_order_is_base_classes_first(cls, expected):
    assert start_tag(cls(), "div") == expected == reference(cls())


# ---- overrides in Python subclasses ----------------------------------------------------

class Shouting(_Attribute):
    def attrvalue(self, obj):
        return super().attrvalue(obj).upper()


class Counted(_NumericAttribute):
    def attrvalue(self, obj):
        return 42  # not a str: turned into text


class Renamed(_BooleanAttribute):
    @property
    def attrname(self):
        return "aria-" + self.name


class Restyled(_Attribute):
    attrtype = "style"


class Nothing(_Attribute):
    def attrvalue(self, obj):
        return None


def test_python_subclasses_override_attrvalue_attrname_and_attrtype():
    card = component(
        label=Shouting("hi", attrtype="element"),
        count=Counted(1, attrtype="element"),
        busy=Renamed(True, attrtype="element"),
        color=Restyled("red", attrtype="element"),
        gone=Nothing("x", attrtype="element"),
    )
    expected = '<div label="HI" count="42" aria-busy style="color: red">'
    assert start_tag(card, "div") == expected == reference(card)


def test_an_instance_attrvalue_is_used():
    attr = Shouting("hi", attrtype="element")
    card = component(label=attr)
    attr.attrvalue = lambda obj: "mine"
    assert start_tag(card, "div") == '<div label="mine">'


class Switching(_Attribute):
    """Finds an override of attrvalue only once `overridden` is set, through
    its own attribute lookup: no namespace of the class changes."""

    overridden = [False]

    def __getattribute__(self, name):
        if name == "attrvalue" and Switching.overridden[0]:
            return lambda obj: "overridden"
        return super().__getattribute__(name)


class SwitchingProperty(_Attribute):
    """Its attrvalue is a property that answers the built-in method first."""

    overridden = [False]

    @property
    def attrvalue(self):
        if SwitchingProperty.overridden[0]:
            return lambda obj: "overridden"
        return _Attribute.attrvalue.__get__(self)


class SwitchingUnits(_NumericAttribute):
    """No instance dict; its get_units changes through its own lookup."""

    __slots__ = ()
    overridden = [False]

    def __getattribute__(self, name):
        if name == "get_units" and SwitchingUnits.overridden[0]:
            return lambda obj: "em"
        return super().__getattribute__(name)


@pytest.mark.parametrize(
    "cls, plain, changed",
    [
        (Switching, '<div title="plain">', '<div title="overridden">'),
        (SwitchingProperty, '<div title="plain">', '<div title="overridden">'),
        (lambda *a, **k: SwitchingUnits(10, **k), '<div title="10.0px">', '<div title="10.0em">'),
    ],
)
def test_start_tag_renders_what_the_attribute_lookup_finds_now(cls, plain, changed):
    title = cls("plain", attrtype="element", attrname="title")
    card = component(title=title)
    if isinstance(title, SwitchingUnits):
        card.title = "10px"
    flag = type(title).overridden
    try:
        for _ in range(3):  # rendered more than once, so a remembered outcome would be used
            assert start_tag(card, "div") == plain
        flag[0] = True
        assert start_tag(card, "div") == changed
        assert start_tag(card, "div") == f'<div title="{type(card).title.attrvalue(card)}">'
    finally:
        flag[0] = False


# ---- failures ----------------------------------------------------------------------------

class Broken(_Attribute):
    def attrvalue(self, obj):
        raise LookupError("no value today")


class BadText:
    def __str__(self):
        raise ArithmeticError("no text")


class BadTextAttribute(_Attribute):
    def attrvalue(self, obj):
        return BadText()


class BadName(_Attribute):
    @property
    def attrname(self):
        raise KeyError("name")


class NeverRendered(_Attribute):
    def attrvalue(self, obj):
        raise AssertionError("an attribute that is not rendered was rendered")


@pytest.mark.parametrize(
    "attr, kind, message",
    [
        (Broken("", attrtype="element"), LookupError, "no value today"),
        (BadTextAttribute("", attrtype="style"), ArithmeticError, "no text"),
        (BadName("", attrtype="element"), KeyError, "'name'"),
        # the class's own rendering: a value whose mapped value was taken away
        (_Attribute("a", attrtype="class", options=["a", "z"], values=["b", "y"]), KeyError, "'a'"),
    ],
)
def test_a_failing_rendering_passes_on_with_a_note(attr, kind, message):
    card = component(id=_Attribute("a", attrtype="element"), broken=attr, other=NeverRendered("", attrtype=""))
    if type(attr) is _Attribute:
        attr.values.pop("a", None)
    error = failure(lambda: start_tag(card, "div"))
    assert type(error) is kind and str(error) == message
    assert error.__notes__ == ["while rendering Card.broken"]
    same = failure(lambda: reference(card))
    assert (type(same), str(same), same.__notes__) == (kind, message, error.__notes__)


def test_an_unnamed_attribute_fails_with_a_note():
    cls = type("Card", (EventDispatcher,), {})
    cls.late = _Attribute("x", attrtype="element")  # never named by a class body
    error = failure(lambda: start_tag(cls(), "div"))
    assert type(error) is AttributeError and error.__notes__ == ["while rendering Card.late"]


@pytest.mark.parametrize(
    "declarations, message",
    [
        ({"a": _Attribute("x", attrtype="element", attrname="data role")},
         "Card.a has the page name 'data role', which is not a valid HTML attribute name"),
        ({"a": _Attribute("", attrtype="element", attrname="on=click")},  # checked whatever the value
         "Card.a has the page name 'on=click', which is not a valid HTML attribute name"),
        ({"a": _Attribute("x", attrtype="style", attrname='font"size')},
         "Card.a has the page name 'font\"size', which is not a valid HTML attribute name"),
        *[({"a": _Attribute("x", attrtype="element", attrname=f"x{c}y")},
           f"Card.a has the page name {f'x{c}y'!r}, which is not a valid HTML attribute name")
          for c in ["\t", "\n", "\x00", "\x7f", "\x9f", "'", ">", "/", "\ufdd0", "\uffff", "\U0010fffe"]],
        ({"kind": _Attribute("text", attrtype="element", attrname="type"),
          "type": _Attribute("", attrtype="element")},
         "Card.kind and Card.type both give the attribute 'type'"),
        ({"width": _NumericAttribute(1, attrtype="style"),
          "css": _Attribute("x", attrtype="element", attrname="style")},
         "Card.width and Card.css both give the attribute 'style'"),
        ({"css": _Attribute("x", attrtype="element", attrname="class"),
          "theme": _Attribute("", attrtype="class")},
         "Card.css and Card.theme both give the attribute 'class'"),
    ],
)
def test_page_names_are_checked(declarations, message):
    card = component(**declarations)
    for render in (start_tag, reference):
        with pytest.raises(ValueError) as caught:
            render(card, "div")
        assert str(caught.value) == message


def test_style_and_class_attributes_may_share_page_names():
    card = component(
        a=_Attribute("1", attrtype="style", attrname="margin"),
        b=_Attribute("2", attrtype="style", attrname="margin"),
        c=_Attribute("x", attrtype="class", attrname="theme"),
        d=_Attribute("y", attrtype="class", attrname="theme"),
    )
    assert start_tag(card, "div") == '<div style="margin: 1; margin: 2" class="x y">' == reference(card)


@pytest.mark.parametrize(
    "component_argument, tag, kind",
    [
        (object(), "div", TypeError),
        (None, "div", TypeError),
        ("card", "div", TypeError),
        (EventDispatcher(), b"div", TypeError),
        (EventDispatcher(), "", ValueError),
        (EventDispatcher(), "1div", ValueError),
        (EventDispatcher(), "my tag", ValueError),
        (EventDispatcher(), "a>", ValueError),
        (EventDispatcher(), "a<b", ValueError),
        (EventDispatcher(), "\u00e9l\u00e9ment", ValueError),
    ],
)
def test_arguments_are_checked(component_argument, tag, kind):
    with pytest.raises(kind):
        start_tag(component_argument, tag)


@pytest.mark.parametrize("tag", ["div", "my-element", "h1", "x-\u00e9l\u00e9ment", "svg:path"])
def test_valid_tags(tag):
    assert start_tag(EventDispatcher(), tag) == f"<{tag}>"


def test_argument_count():
    with pytest.raises(TypeError, match="exactly 2"):
        start_tag(EventDispatcher())  # type: ignore[call-arg]


# ---- classes and attributes that change ------------------------------------------------

def test_a_changed_class_is_found_again():
    class Card(EventDispatcher):
        id = _Attribute("a", attrtype="element")

    card = Card()
    assert start_tag(card, "div") == '<div id="a">'
    Card.title = _Attribute("t", attrtype="element")
    Card.title.__set_name__(Card, "title")
    assert start_tag(Card(), "div") == '<div id="a" title="t">'
    del Card.id
    assert start_tag(Card(), "div") == '<div title="t">'
    Base.extra = _Attribute("e", attrtype="element")  # a base class changes
    Base.extra.__set_name__(Base, "extra")
    try:
        # at its place among the base's attributes
        assert start_tag(Redefining(), "div").endswith(' hidden extra="e" name="n">')
    finally:
        del Base.extra
    assert "extra" not in start_tag(Redefining(), "div")


def test_a_reinitialised_attribute_is_read_again():
    attr = _Attribute("x", attrtype="element")
    card = component(note=attr)
    assert start_tag(card, "div") == '<div note="x">'
    attr.__init__("x", attrtype="style", attrname="content")
    assert start_tag(card, "div") == '<div style="content: x">'
    attr.__init__("x", attrtype="element", attrname="bad name")
    with pytest.raises(ValueError, match="'bad name'"):
        start_tag(card, "div")
    attr.__init__("x", attrtype="element")
    assert start_tag(card, "div") == '<div note="x">'


def test_rendering_does_not_keep_classes_alive():
    made = []
    for i in range(200):
        cls = type(f"Card{i}", (EventDispatcher,), {"id": _Attribute(str(i), attrtype="element")})
        assert start_tag(cls(), "div") == f'<div id="{i}">'
        made.append(weakref.ref(cls))
        del cls
    gc.collect()
    assert all(ref() is None for ref in made)


class Rewriting(_Attribute):
    """While rendered, takes the other attributes out of the class (they can go
    at once) and renders the component again."""

    def attrvalue(self, obj):
        cls = type(obj)
        if "a" in vars(cls):
            del cls.a, cls.c
            gc.collect()
            assert start_tag(obj, "span") == '<span b="done">'
        return "done"


def test_a_rendering_may_change_the_class_being_rendered():
    card = component(
        a=_Attribute("first", attrtype="element"),
        b=Rewriting("", attrtype="element"),
        c=_NumericAttribute(3, units="px", attrtype="style"),
    )
    # The call renders the attributes it found before the class changed.
    assert start_tag(card, "div") == '<div a="first" b="done" style="c: 3px">'
    assert start_tag(card, "div") == '<div b="done">'


@pytest.mark.no_leakcheck
def test_second_interpreter_is_refused():
    from test_module import SUBINTERPRETER_PRELUDE, run_python

    result = run_python(SUBINTERPRETER_PRELUDE + """
import tavo.core._event
from tavo.html import start_tag
run_in_subinterpreter("import tavo.core._render")
print("FIRST", start_tag(tavo.core._event.EventDispatcher(), "p"))
""")
    assert result.returncode == 0, result.stderr
    assert "ImportError" in result.stdout
    assert "tavo.core._render can only be loaded into one interpreter per process." in result.stdout
    assert "FIRST <p>" in result.stdout


# ---- the rules against their Python statement -------------------------------------------

from hypothesis import given, strategies as st  # noqa: E402

TEXTS = st.text(alphabet=st.sampled_from('ab &<>"\',\u00e9\u20ac\U0001f600'), max_size=8)
PAGE_NAMES = st.sampled_from(["", "", "title", "data-x", "style", "class", "a b", "x\u00e9", "id"])
FACTORIES = [
    (lambda kw: _Attribute("", **kw), TEXTS),
    (lambda kw: _NumericAttribute(0, units="px", options=["auto"], **kw), st.sampled_from([1, 2.5, "3em", "auto"])),
    (lambda kw: _VariableListAttribute([0, 0, 0, 0], **kw), st.sampled_from([1, "1px 2px", [1, 2, 3, 4]])),
    (lambda kw: _BooleanAttribute(False, **kw), st.booleans()),
    (lambda kw: _LogicalAttribute(None, **kw), st.sampled_from([None, True, False])),
    (lambda kw: _ListAttribute([], **kw), st.lists(TEXTS, max_size=3)),
    (lambda kw: _ColorAttribute(None, format="css", **kw), st.sampled_from([None, [1, 2, 3], "#ff8000"])),
    (lambda kw: _GenericEventAttribute(False, "go('x')", **kw), st.booleans()),
]


@st.composite
def declared_components(draw):
    namespace, values = {}, {}
    for index in range(draw(st.integers(0, 8))):
        factory, value_strategy = FACTORIES[draw(st.integers(0, len(FACTORIES) - 1))]
        keywords = {"attrtype": draw(st.sampled_from(["style", "class", "element", "element", "", None]))}
        keywords["attrname"] = draw(PAGE_NAMES)
        namespace[f"p_{index}"] = factory(keywords)
        if draw(st.booleans()):
            values[f"p_{index}"] = draw(value_strategy)
    card = type("Card", (EventDispatcher,), namespace)()
    for name, value in values.items():
        setattr(card, name, value)
    return card


def outcome(render, card):
    try:
        return render(card, "div")
    except ValueError as error:
        return type(error), str(error)


@given(declared_components())
def test_start_tag_follows_the_python_statement_of_its_rules(card):
    assert outcome(start_tag, card) == outcome(reference, card)


# ---- what the fast paths decide ------------------------------------------------------

@pytest.mark.parametrize("name", ["a&b", "x<y", "&amp;", "<&", "caf\u00e9&<", "\u20ac<", "\U0001f600&"])
@pytest.mark.parametrize("value", ["1", "\u00e9", "\u4e2d"])
def test_a_style_page_name_is_escaped_inside_the_style(name, value):
    # & and < may stand in an attribute name, but a style's page name is
    # written inside style="...", where it is text like the value.
    card = component(
        first=_Attribute("0", attrtype="style", attrname="margin"),
        odd=_Attribute(value, attrtype="style", attrname=name),
    )
    expected = f'<div style="margin: 0; {html.escape(name, quote=True)}: {value}">'
    assert start_tag(card, "div") == expected == reference(card)


@pytest.mark.parametrize(
    "renderings",
    [
        [""],
        [", "],
        [", , "],
        [", ", ", , , "],
        ["", ", "],
    ],
)
@pytest.mark.parametrize("also", [None, "element", "style"])
def test_class_renderings_without_items_add_no_class_attribute(renderings, also):
    declarations = {f"c{i}": _Attribute(text, attrtype="class") for i, text in enumerate(renderings)}
    declarations["empty"] = _ListAttribute([], attrtype="class")
    expected = "<div>"
    if also:
        declarations["other"] = _Attribute("v", attrtype=also)
        expected = '<div other="v">' if also == "element" else '<div style="other: v">'
    card = component(**declarations)
    assert start_tag(card, "div") == expected == reference(card)
    card.c0 = "late, , x"  # an item later on: the attribute appears
    assert 'class="late x"' in start_tag(card, "div")


@pytest.mark.parametrize("cls", [_Attribute, Shouting])
@pytest.mark.parametrize("attrtype", ["element", "style"])
def test_a_new_page_name_with_the_same_attrtype_is_checked_again(cls, attrtype):
    attr = cls("x", attrtype=attrtype, attrname="first")
    other = _Attribute("y", attrtype="element", attrname="taken")
    card = component(note=attr, other=other)
    assert "first" in start_tag(card, "div")
    attr.__init__("x", attrtype=attrtype, attrname="bad name")
    with pytest.raises(ValueError) as caught:
        start_tag(card, "div")
    assert str(caught.value) == "Card.note has the page name 'bad name', which is not a valid HTML attribute name"
    attr.__init__("x", attrtype=attrtype, attrname="second")
    assert "second" in start_tag(card, "div")
    if attrtype == "element":
        attr.__init__("x", attrtype=attrtype, attrname="taken")
        with pytest.raises(ValueError) as caught:
            start_tag(card, "div")
        assert str(caught.value) == "Card.note and Card.other both give the attribute 'taken'"
    attr.__init__("x", attrtype=attrtype, attrname="first")
    assert "first" in start_tag(card, "div")


@pytest.mark.parametrize(
    "name, page",
    [("aria_label_by", "aria-label-by"), ("a_b_c_d_e", "a-b-c-d-e"), ("__x__", "--x--"), ("data__x", "data--x"),
     ("caf\u00e9_x_y", "caf\u00e9-x-y")],
)
@pytest.mark.parametrize("attrtype", ["element", "style"])
def test_every_underscore_of_a_property_name_becomes_a_dash(name, page, attrtype):
    card = component(**{name: _Attribute("v", attrtype=attrtype)})
    expected = f'<div {page}="v">' if attrtype == "element" else f'<div style="{page}: v">'
    assert start_tag(card, "div") == expected == reference(card)
    assert getattr(type(card), name).attrname == page


@pytest.mark.parametrize("letter", list("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"))
@pytest.mark.parametrize("rest", ["", "1", "-x"])
def test_a_tag_may_start_with_any_ascii_letter(letter, rest):
    tag = letter + rest
    assert start_tag(component(id=_Attribute("a", attrtype="element")), tag) == f'<{tag} id="a">'


@pytest.mark.parametrize("first", ["@", "[", "`", "{", "_", "0", "\u00e9"])
def test_a_tag_may_not_start_with_what_borders_the_letters(first):
    with pytest.raises(ValueError, match="not a valid tag name"):
        start_tag(EventDispatcher(), first + "div")


class Unit(_NumericAttribute):
    unit = "px"

    def get_units(self, obj):
        return self.unit


class BoundedUnit(_BoundedNumericAttribute):
    unit = "px"

    def get_units(self, obj):
        return self.unit


@pytest.mark.parametrize("cls", [Unit, BoundedUnit])
@pytest.mark.parametrize("unit", ["\u00b5m", "\u20acm", "\U0001f4cf", "px"])
@pytest.mark.parametrize("value", [3, 2.5, -0.0, 10**20])
def test_a_unit_from_a_python_get_units_renders_whatever_its_width(cls, unit, value):
    attr = cls(value, attrtype="style")
    attr.unit = unit
    card = component(gap=attr, title=_Attribute("t", attrtype="element"))
    text = type(card).gap.attrvalue(card)
    assert text == f"{value}{unit}"
    assert text.isascii() == unit.isascii()
    tag = start_tag(card, "div")
    assert tag == f'<div style="gap: {value}{unit}" title="t">' == reference(card)
    assert tag.isascii() == unit.isascii()
