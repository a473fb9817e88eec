"""tavo.html.Page: start tags with identifiers, and the updates of what changed since."""
import gc
import weakref
from html.parser import HTMLParser

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

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
from tavo.core.properties import ObservableList
from tavo.html import Page, Update, start_tag


class Card(EventDispatcher):
    title = _Attribute("t", attrtype="element", sync=1)
    note = _Attribute("n", attrtype="element")  # sync 0: never sent
    width = _NumericAttribute(240, units="px", attrtype="style")
    opacity = _BoundedNumericAttribute(0.5, min=0, max=1, attrtype="style")
    margin = _VariableListAttribute([1, 2], attrtype="style")
    hidden = _BooleanAttribute(False, attrtype="element", sync=True)
    expanded = _LogicalAttribute(None, attrtype="element", sync=1)
    kind = _Attribute("plain", attrtype="class", options=["plain", "loud"])
    tags = _ListAttribute(["x"], attrtype="class")
    color = _ColorAttribute("#ff0000", attrtype="style")
    onclick = _GenericEventAttribute(False, attrtype="element", sync=1)  # registers "on_click"


class TagAttributes(HTMLParser):
    def handle_starttag(self, tag, attrs):
        self.found = {name: "" if value is None else value for name, value in attrs}


def attributes(tag):
    parser = TagAttributes()
    parser.feed(tag)
    return parser.found


def synced_now(component, page):
    """The synced attributes start_tag renders for the component now."""
    found = attributes(start_tag(component, "div"))
    unsynced = {"note"}
    return {name: text for name, text in found.items() if name not in unsynced}


def browser_after(page, first_tags, updates):
    """Each element's attributes after applying the updates to its first render."""
    for update in updates:
        assert isinstance(update, Update) and isinstance(update.remove, tuple)
        element = first_tags[update.element]
        for name in update.remove:
            del element[name]
        element.update(update.set)
    return first_tags


# ---- the first render --------------------------------------------------------------

def test_start_tag_adds_the_identifier_and_puts_the_component_on_the_page():
    page = Page()
    a, b = Card(), Card()
    tag_a = page.start_tag(a, "div")
    assert tag_a == start_tag(a, "div").replace("<div", '<div data-tavo-id="1"', 1)
    assert page.start_tag(b, "span").startswith('<span data-tavo-id="2" ')
    assert (len(page), a in page, Card() in page, 3 in page) == (2, True, False, False)
    assert (page.element_id(b), page.component("2") is b, page.updates()) == ("2", True, [])
    assert page.components() == [a, b]
    assert page.start_tag(a, "p").startswith('<p data-tavo-id="1" ')  # rendered again: same element
    custom = Page(id_attribute="data-x")
    assert custom.id_attribute == "data-x" and custom.start_tag(Card(), "div").startswith('<div data-x="1" ')


@pytest.mark.parametrize("element_id", ["0", "3", "01", "-1", "", "1 ", "x", 1])
def test_unknown_element_ids(element_id):
    page = Page()
    page.start_tag(Card(), "div")
    page.start_tag(Card(), "div")
    with pytest.raises(KeyError, match="no element"):
        page.component(element_id)


@pytest.mark.parametrize("name", ["", "style", "class", "a b", 'x"', "data-x="])
def test_invalid_identifier_attribute(name):
    with pytest.raises(ValueError, match="not a valid name for the identifier attribute"):
        Page(id_attribute=name)


def test_refusals_of_start_tag_put_nothing_on_the_page():
    page = Page()

    class Clash(EventDispatcher):
        data_tavo_id = _Attribute("x", attrtype="element")

    clash = Clash()
    with pytest.raises(ValueError, match=r"Clash.data_tavo_id has the page name 'data-tavo-id', which the page"):
        page.start_tag(clash, "div")
    card = Card()
    other = Page()
    other.start_tag(card, "div")
    with pytest.raises(ValueError, match="this Card is shown on another page"):
        page.start_tag(card, "div")
    with pytest.raises(ValueError, match="not a valid tag name"):
        page.start_tag(Card(), "1div")
    with pytest.raises(TypeError, match="EventDispatcher"):
        page.start_tag(object(), "div")
    assert len(page) == 0 and clash not in page
    with pytest.raises(ValueError, match="this Card is not on the page"):
        page.refresh(Card())


# ---- what is recorded ----------------------------------------------------------------

def in_observer(card):
    card.bind(opacity=lambda owner, value: setattr(owner, "title", "from observer"))
    card.opacity = 1


def in_handler(card):
    card.bind(on_click=lambda owner, *args: setattr(owner, "title", "-".join(args)))
    card.dispatch("on_click", "a", "b")


@pytest.mark.parametrize(
    "change, expected",
    [
        (lambda c: setattr(c, "title", "new"), {"title": "new"}),
        (lambda c: setattr(c, "width", "10em"), {"style": "width: 10.0em; opacity: 0.5; margin: 1 2 1 2; color: 1.0, 0.0, 0.0"}),
        (lambda c: setattr(c, "width", ("240", "em")), {"style": "width: 240.0em; opacity: 0.5; margin: 1 2 1 2; color: 1.0, 0.0, 0.0"}),
        (lambda c: setattr(c, "kind", "loud"), {"class": "loud x"}),
        (lambda c: setattr(c, "hidden", True), {"hidden": ""}),
        (lambda c: setattr(c, "expanded", False), {"expanded": "false"}),
        (lambda c: c.tags.append("y & z"), {"class": "plain x y & z"}),
        (lambda c: c.tags.__setitem__(0, "w"), {"class": "plain w"}),
        (in_observer, {"style": "width: 240px; opacity: 1; margin: 1 2 1 2; color: 1.0, 0.0, 0.0", "title": "from observer"}),
        (in_handler, {"title": "a-b"}),
    ],
    ids=["element", "unit", "unit-pair", "class", "flag", "logical", "list-append", "list-item", "observer", "handler"],
)
def test_each_recorded_change_gives_one_update(change, expected):
    page = Page()
    card = Card()
    first = {"1": attributes(page.start_tag(card, "div"))}
    change(card)
    updates = page.updates()
    assert [(u.element, u.set, u.remove) for u in updates] == [("1", expected, ())]
    assert synced_now(card, page).items() <= browser_after(page, first, updates)["1"].items()
    assert page.updates() == []


def test_a_handler_changes_another_component():
    page = Page()
    a, b = Card(), Card()
    page.start_tag(a, "div")
    page.start_tag(b, "div")
    a.bind(on_click=lambda owner: setattr(b, "hidden", True))
    a.dispatch("on_click")
    assert page.updates() == [("2", {"hidden": ""}, ())]


def test_removals_and_what_is_not_sent():
    page = Page()
    card = Card(title="x", hidden=True, kind="loud")
    page.start_tag(card, "div")
    card.title = ""
    card.hidden = False
    card.note = "never sent"  # sync 0
    card.tags = []
    assert page.updates() == [("1", {"class": "loud"}, ("title", "hidden"))]
    card.kind = None
    assert page.updates() == [("1", {}, ("class",))]
    card.width = card.margin = card.color = None
    assert page.updates() == [("1", {"style": "opacity: 0.5"}, ())]
    card.note = "still not"
    assert page.updates() == []


def test_changes_are_coalesced_and_a_change_back_sends_nothing():
    page = Page()
    card = Card()
    page.start_tag(card, "div")
    for text in ("a", "b", "c"):
        card.title = text
    card.width = 5
    card.width = 240  # back to what was sent
    card.hidden = True
    card.hidden = False
    assert page.updates() == [("1", {"title": "c"}, ())]
    card.title = "d"
    card.title = "c"
    assert page.updates() == []


def test_a_refused_value_queues_nothing():
    page = Page()
    card = Card()
    page.start_tag(card, "div")
    for name, value in [("opacity", "5em"), ("kind", "other"), ("width", object()), ("margin", [1, 2, 3])]:
        with pytest.raises((ValueError, TypeError)):
            setattr(card, name, value)
    assert page.updates() == []


def test_elements_come_in_the_order_of_their_first_change():
    page = Page()
    cards = [Card() for _ in range(4)]
    for card in cards:
        page.start_tag(card, "div")
    cards[2].title = "c"
    cards[0].title = "a"
    cards[2].hidden = True
    assert [(u.element, u.set) for u in page.updates()] == [("3", {"title": "c", "hidden": ""}), ("1", {"title": "a"})]


# ---- what is not recorded: refresh -----------------------------------------------------

class Computed(_Attribute):
    source = "first"

    def attrvalue(self, obj):
        return Computed.source


def plain_list(card, attribute_class):
    card.margin[0] = 99  # a plain list: not an ObservableList


def override(card, attribute_class):
    Computed.source = "second"


def reinitialised(card, attribute_class):
    type(card).title.__init__("t", attrtype="element", attrname="heading", sync=1)


def redeclared(card, attribute_class):
    attribute_class.title = _Attribute("t", attrtype="class")  # from an element attribute to a class
    attribute_class.title.__set_name__(attribute_class, "title")


@pytest.mark.parametrize("change", [plain_list, override, reinitialised, redeclared])
def test_refresh_sends_what_the_page_could_not_see(change):
    attribute_class = type("Fresh", (Card,), {
        "title": _Attribute("t", attrtype="element", sync=1),
        "computed": Computed("", attrtype="element", sync=1),
    })
    page = Page()
    card = attribute_class()
    first = {"1": attributes(page.start_tag(card, "div"))}
    change(card, attribute_class)
    page.refresh(card)
    updates = page.updates()
    assert len(updates) == 1
    shown = browser_after(page, first, updates)["1"]
    assert shown == synced_now(card, page) | {"data-tavo-id": "1", "note": "n"}
    page.refresh(card)
    assert page.updates() == []
    Computed.source = "first"


# ---- failures ---------------------------------------------------------------------

class Fragile(_Attribute):
    failing = False

    def attrvalue(self, obj):
        if Fragile.failing:
            raise LookupError("not now")
        return super().attrvalue(obj)


def test_a_failing_rendering_keeps_every_update_pending():
    class Panel(EventDispatcher):
        label = Fragile("a", attrtype="element", sync=1)
        width = _NumericAttribute(1, attrtype="style")

    page = Page()
    first, second = Card(), Panel()
    page.start_tag(first, "div")
    page.start_tag(second, "div")
    first.title = "changed"
    second.label = "b"
    second.width = 2
    Fragile.failing = True
    try:
        with pytest.raises(LookupError) as caught:
            page.updates()
        assert caught.value.__notes__ == ["while rendering Panel.label"]
        first.hidden = True  # more changes meanwhile
    finally:
        Fragile.failing = False
    assert page.updates() == [("1", {"title": "changed", "hidden": ""}, ()),
                              ("2", {"label": "b", "style": "width: 2"}, ())]


def test_a_style_value_that_leaves_its_declaration_is_refused():
    page = Page()
    card = Card()
    page.start_tag(card, "div")

    class Sneaky(EventDispatcher):
        font = _Attribute("serif", attrtype="style")

    sneaky = Sneaky()
    page.start_tag(sneaky, "div")
    card.title = "kept"
    sneaky.font = "serif; background: url(x)"
    with pytest.raises(ValueError, match=r"Sneaky.font gives the style value 'serif; background: url\(x\)'"):
        page.updates()
    sneaky.font = '"Open Sans", url(data:image/png;base64,AA==)'
    assert page.updates() == [("1", {"title": "kept"}, ()),
                              ("2", {"style": 'font: "Open Sans", url(data:image/png;base64,AA==)'}, ())]


def test_the_page_cannot_change_while_it_collects():
    page = Page()
    seen = []

    class Meddling(_Attribute):
        def attrvalue(self, obj):
            if obj.text == "a":
                return "a"
            for call in (page.updates, lambda: page.refresh(obj), page.close,
                         lambda: page.start_tag(Card(), "div")):
                with pytest.raises(RuntimeError, match="collecting"):
                    call()
            obj.other = "set while collecting"
            seen.append(obj.other)
            return obj.text

    class Owner(EventDispatcher):
        text = Meddling("a", attrtype="element", sync=1)
        other = _Attribute("", attrtype="element", sync=1)

    owner = Owner()
    page.start_tag(owner, "div")
    owner.text = "b"
    assert page.updates() == [("1", {"text": "b"}, ())]
    assert seen and page.updates() == [("1", {"other": "set while collecting"}, ())]


def test_a_rendering_that_puts_another_component_on_the_page():
    page = Page()

    class Sneaky(_Attribute):
        def attrvalue(self, obj):
            if obj.text == "go":
                obj.text = "done"
                page.start_tag(Card(), "div")  # takes the place the outer call would give
            return obj.text

    class Owner(EventDispatcher):
        text = Sneaky("go", attrtype="element", sync=1)

    owner = Owner()
    assert page.start_tag(owner, "div") == '<div data-tavo-id="2" text="done">'
    assert len(page) == 2 and type(page.component("1")) is Card and page.component("2") is owner
    assert page.updates() == []  # the change made while rendering is in the tag


def test_start_tag_again_sends_the_pending_changes_and_keeps_those_made_while_rendering():
    page = Page()

    class Late(_Attribute):
        def attrvalue(self, obj):
            if obj.text == "go":
                obj.first = "changed after its rendering"
            if obj.text == "boom":
                raise LookupError("boom")
            return obj.text

    class Owner(EventDispatcher):
        first = _Attribute("a", attrtype="element", sync=1)
        text = Late("x", attrtype="element", sync=1)

    owner = Owner()
    page.start_tag(owner, "div")
    owner.first = "pending"
    owner.text = "go"
    assert page.start_tag(owner, "div") == '<div data-tavo-id="1" first="pending" text="go">'
    assert page.updates() == [("1", {"first": "changed after its rendering"}, ())]
    owner.first = "pending again"
    owner.text = "boom"
    with pytest.raises(LookupError):
        page.start_tag(owner, "div")  # failed: what was pending stays pending
    owner.text = "ok"
    assert page.updates() == [("1", {"first": "pending again", "text": "ok"}, ())]


# ---- closing ------------------------------------------------------------------------

@pytest.mark.parametrize("how", ["close", "with", "drop"])
def test_closing_releases_the_components(how):
    page = Page()
    card = Card()
    ref = weakref.ref(card)
    page.start_tag(card, "div")
    card.title = "pending"
    if how == "close":
        page.close()
        assert page.closed and len(page) == 0 and card not in page
        for call in (page.updates, page.components, lambda: page.start_tag(card, "div"), lambda: page.refresh(card),
                     lambda: page.component("1"), lambda: page.element_id(card)):
            with pytest.raises(ValueError, match="the page is closed"):
                call()
        page.close()  # again: nothing
    elif how == "with":
        with page as same:
            assert same is page
        assert page.closed
    else:
        del page
    card.title = "after"  # no page: nothing recorded, nothing kept
    assert Page().start_tag(card, "div").startswith('<div data-tavo-id="1" title="after"')
    del card
    gc.collect()
    assert ref() is None


def test_a_page_left_in_a_cycle_is_collected():
    page = Page()
    card = Card()
    card.bind(title=lambda owner, value, page=page: None)  # the component refers back to its page
    page.start_tag(card, "div")
    refs = weakref.ref(page), weakref.ref(card)
    del page, card
    gc.collect()
    assert [ref() for ref in refs] == [None, None]


# ---- random sequences against start_tag ---------------------------------------------------

VALUES = {
    "title": st.text(max_size=6),
    "note": st.text(max_size=3),
    "width": st.one_of(st.integers(-5, 500), st.sampled_from(["10px", "2em", "50%", "1.5vh", ("3", "pt"), "bad"])),
    "opacity": st.one_of(st.floats(-1, 2, allow_nan=False), st.sampled_from(["0.5em", "2"])),
    "margin": st.sampled_from([[1], [1, 2], [1, 2, 3, 4], "5px", [1, 2, 3], None]),
    "hidden": st.booleans(),
    "expanded": st.sampled_from([True, False, None]),
    "kind": st.sampled_from(["plain", "loud", "odd", None]),
    "tags": st.lists(st.sampled_from(["a", "b & c", "", "d"]), max_size=3),
    "color": st.sampled_from(["#00ff00", [1, 0, 0, 0.5], [0, 0, 1], "nope", None]),
    "onclick": st.booleans(),
}

STEP = st.one_of(
    st.tuples(st.just("assign"), st.integers(0, 2), st.sampled_from(sorted(VALUES)), st.data()),
    st.tuples(st.just("in place"), st.integers(0, 2), st.sampled_from(["a", "zz", ""]), st.none()),
    st.tuples(st.just("plain list"), st.integers(0, 2), st.integers(0, 9), st.none()),
    st.tuples(st.just("collect"), st.none(), st.none(), st.none()),
)


@settings(max_examples=60, deadline=None)
@given(steps=st.lists(STEP, max_size=25))
def test_updates_bring_the_first_render_to_what_start_tag_renders_now(steps):
    page = Page()
    cards = [Card() for _ in range(3)]
    browser = {str(i + 1): attributes(page.start_tag(card, "div")) for i, card in enumerate(cards)}
    unseen = set()

    def collect():
        for element in unseen:
            page.refresh(cards[int(element) - 1])
        unseen.clear()
        browser_after(page, browser, page.updates())
        for i, card in enumerate(cards):
            shown = {name: text for name, text in browser[str(i + 1)].items() if name not in ("note", "data-tavo-id")}
            assert shown == synced_now(card, page), (i, start_tag(card, "div"))

    for kind, index, what, data in steps:
        if kind == "collect":
            collect()
            continue
        card = cards[index]
        if kind == "assign":
            try:
                setattr(card, what, data.draw(VALUES[what]))
            except (ValueError, TypeError):
                pass
        elif kind == "in place":
            card.tags.append(what)  # an ObservableList
        elif isinstance(card.margin, list) and card.margin:
            card.margin[0] = what  # a plain list: refreshed before the next collection
            unseen.add(str(index + 1))
    collect()
