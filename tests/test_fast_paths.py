"""Results the remembered lookups and shortcuts of the hot paths must not change.

The module remembers some outcomes between calls (which classes are owners,
the module-level names it reads) and takes shortcuts for the built-in types;
these cases alternate between the remembered and the other outcome.
"""
import pytest

from tavo.core import _testsupport
from tavo.core._attributes import _Attribute, _LogicalAttribute
from tavo.core._event import EventDispatcher


class Owner(EventDispatcher):
    label = _Attribute("a")
    state = _LogicalAttribute(True)


class OtherOwner(EventDispatcher):
    label = _Attribute("b")


class NotAnOwner:
    pass


@pytest.mark.parametrize("order", [("owner", "other", "plain"), ("plain", "owner", "plain", "other", "owner")])
def test_owner_test_alternating_classes(order):
    objects = {"owner": Owner(), "other": OtherOwner(), "plain": NotAnOwner()}
    for which in order:
        obj = objects[which]
        if which == "plain":
            with pytest.raises(TypeError, match="got NotAnOwner"):
                Owner.label.attrvalue(obj)
            with pytest.raises(TypeError, match="Cannot convert NotAnOwner"):
                _check(obj)
        else:
            assert Owner.state.attrvalue(Owner()) == "true"
            assert type(obj).label.attrvalue(obj) == ("a" if which == "owner" else "b")


def _check(obj):
    return _testsupport.table_call(Owner.label, "check", obj, "x")


def test_owner_class_made_after_a_refusal_is_accepted():
    with pytest.raises(TypeError):
        Owner.label.attrvalue(NotAnOwner())

    class Late(EventDispatcher):
        label = _Attribute("late")

    assert Late.label.attrvalue(Late()) == "late"
    with pytest.raises(TypeError):
        Owner.label.attrvalue(NotAnOwner())


class StrSub(str):
    pass


class EqualsEverything:
    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


class Calls:
    """An option that records what it is compared with."""

    def __init__(self):
        self.seen = []

    def __eq__(self, other):
        self.seen.append(other)
        return NotImplemented

    __hash__ = object.__hash__


@pytest.mark.parametrize(
    "options, value, stored",
    [
        (["auto", "inherit"], "inherit", "inherit"),  # texts by content
        (["auto", 1], True, True),  # a bool equal to an int option is an option, kept as it is
        ([EqualsEverything()], "10px", "10px"),  # an option's own __eq__ decides
        (["auto"], StrSub("auto"), StrSub("auto")),  # a str subclass is compared by the runtime
        (["auto", None], 5, 5),
        (["5px"], "5px", "5px"),
        (["auto"], "5px", 5.0),
    ],
)
def test_option_membership(options, value, stored):
    from tavo.core._attributes import _NumericAttribute

    class Box(EventDispatcher):
        width = _NumericAttribute(options=options)

    box = Box()
    box.width = value
    assert box.width == stored and type(box.width) is type(stored)


def test_option_comparisons_reach_user_objects_in_list_order():
    from tavo.core._attributes import _ColorAttribute

    first, second = Calls(), Calls()

    class Box(EventDispatcher):
        color = _ColorAttribute(options=["inherit", first, 3, second])

    box = Box()
    box.color = [1, 2, 3]
    assert first.seen == [[1, 2, 3]] and second.seen == [[1, 2, 3]]
    box.color = "inherit"
    assert box.color == "inherit" and len(first.seen) == 1


def test_owner_options_that_are_a_list_subclass_use_its_membership_test():
    class Everything(list):
        def __contains__(self, item):
            return True

    owner = Owner()
    owner.property_storage["label"].options = Everything(["only"])
    owner.label = "anything"
    assert owner.label == "anything"


@pytest.fixture
def restored_namespaces():
    import builtins

    from tavo.core import _attributes

    saved = dict(vars(_attributes))
    saved_builtins = dict(vars(builtins))
    yield _attributes, builtins
    for name in [name for name in vars(builtins) if name not in saved_builtins]:
        delattr(builtins, name)
    for name, value in saved.items():
        setattr(_attributes, name, value)


@pytest.mark.no_leakcheck  # changes module names that its fixture restores once
def test_module_names_follow_every_change_of_both_namespaces(restored_namespaces):
    from tavo.core._attributes import _VariableListAttribute

    attributes, builtins = restored_namespaces

    class Box(EventDispatcher):
        margin = _VariableListAttribute()

    box = Box()
    # ValueError: "1px" no longer ends in a unit, its None items are refused.
    steps = [
        (None, None, ["1px", "1px", "1px", "1px"]),  # the module's own tuple
        ("module", ("zz",), ValueError),
        ("module", ("px",), ["1px"] * 4),
        ("delete", ("pt",), ["1px"] * 4),  # the builtins are not read while the module has the name
        ("builtins", ("px",), ["1px"] * 4),  # module name deleted: the builtins' one
        ("builtins", ("zz",), ValueError),
        ("drop", None, NameError),
        ("module", ["px"], ["1px"] * 4),  # any container
    ]
    for where, units, expected in steps:
        if where == "module":
            attributes.CSS_LENGTH_UNITS = units
        elif where == "delete":
            builtins.CSS_LENGTH_UNITS = units
            box.margin = "1px"
            assert box.margin == expected
            del attributes.CSS_LENGTH_UNITS
            continue
        elif where == "builtins":
            builtins.CSS_LENGTH_UNITS = units
        elif where == "drop":
            del builtins.CSS_LENGTH_UNITS
        if expected is NameError:
            with pytest.raises(NameError, match="^name 'CSS_LENGTH_UNITS' is not defined$"):
                box.margin = "1px"
        elif expected is ValueError:
            box.margin = "2%"
            with pytest.raises(ValueError, match=r"^Box\.margin has items that are not lengths \(got \[None, "):
                box.margin = "1px"
            assert box.margin == ["2%"] * 4
        else:
            box.margin = "2px"
            box.margin = "1px"
            assert box.margin == expected, (where, units)


@pytest.mark.no_leakcheck  # changes module names that its fixture restores once
def test_parser_and_list_class_names_are_read_anew(restored_namespaces):
    from tavo.core._attributes import _ColorAttribute, _ListAttribute

    attributes, _ = restored_namespaces

    class Box(EventDispatcher):
        color = _ColorAttribute()
        items = _ListAttribute()

    box = Box()
    box.color = "#ff0000"
    assert box.color == [255, 0, 0]
    attributes.get_color_from_hex_255 = lambda text: [len(text), 0, 0]
    box.color = "#ff0000"
    assert box.color == [7, 0, 0]
    box.items = [1]
    attributes.ObservableList = list
    with pytest.raises(ValueError, match="accept only ObservableList"):
        box.items = [2]


class Growing:
    """An item whose text appends to the list being rendered, a few times."""

    def __init__(self, target, times):
        self.target, self.times = target, times

    def __str__(self):
        if self.times:
            self.times -= 1
            self.target.append(self.times)
        return "g"


class Shrinking:
    def __init__(self, target):
        self.target = target

    def __str__(self):
        del self.target[:]
        return "s"


class ReversedList(list):
    def __iter__(self):
        return iter(self[::-1])


def test_joined_items_follow_the_list_iterator_when_items_change_it():
    from tavo.core._attributes import _ListAttribute

    class Box(EventDispatcher):
        items = _ListAttribute()

    box = Box()
    box.items = [1]
    value = box.items
    value.append(Growing(value, 2))
    value.append("end")
    # The iterator reads the length afresh: the appended item is rendered.
    assert Box.items.attrvalue(box) == "1, g, end, 1"
    box.items = [1, 2]
    value = box.items
    value.insert(1, Shrinking(value))
    assert Box.items.attrvalue(box) == "1, s"


@pytest.mark.parametrize(
    "stored, expected",
    [
        (("a", 1, 2.5, None), "a 1 2.5 None"),  # a tuple option
        (ReversedList(["a", "b", "c", "d"]), "d c b a"),  # a list class with its own iteration
        ([StrSub("x"), None, True, 1], "x None True 1"),
        ({"k": 1, "j": 2}, "k j"),  # any iterable
        ({}, ""),
    ],
)
def test_space_separated_rendering(stored, expected):
    from tavo.core._attributes import _VariableListAttribute

    # Stored as the default: an option holding None is refused when assigned.
    class Box(EventDispatcher):
        margin = _VariableListAttribute(stored, options=[stored])

    box = Box()
    assert box.margin is stored
    assert Box.margin.attrvalue(box) == expected


def test_many_items_are_joined():
    from tavo.core._attributes import _ListAttribute

    class Box(EventDispatcher):
        items = _ListAttribute()

    box = Box()
    box.items = list(range(40))
    assert Box.items.attrvalue(box) == ", ".join(str(i) for i in range(40))


class BadText:
    def __str__(self):
        raise ZeroDivisionError("no text")


def test_text_failure_after_several_items_propagates():
    from tavo.core._attributes import _ListAttribute

    class Box(EventDispatcher):
        items = _ListAttribute()

    box = Box()
    box.items = list(range(12)) + [BadText()]
    with pytest.raises(ZeroDivisionError, match="no text"):
        Box.items.attrvalue(box)


class Unit:
    """A unit entry that records the endings it is compared with."""

    def __init__(self, text):
        self.text, self.seen = text, []

    def __eq__(self, other):
        self.seen.append(other)
        return other == self.text

    __hash__ = object.__hash__


@pytest.mark.parametrize(
    "units, text, kept",
    [
        (("px", "em"), "10px", True),
        (("px", "em"), "10", False),
        (("px", "em"), "50%", True),
        (("px", "em"), "%", True),
        (("px", "em"), "", False),
        ((StrSub("px"),), "1px", True),
        (("p", "x"), "x", True),  # one character: the whole text is its ending
        (("", "em"), "", True),
        (("ẋẋ",), "10ẋẋ", True),
        (("ẋẋ",), "10xx", False),
        (["px"], "1px", True),
        (frozenset({"px"}), "1px", True),
        ("apxb", "1px", True),  # a str container: substring test
        ("apxb", "1pb", False),
    ],
)
def test_unit_endings(restored_namespaces, units, text, kept):
    from tavo.core._attributes import _VariableListAttribute

    attributes, _ = restored_namespaces

    class Box(EventDispatcher):
        margin = _VariableListAttribute()

    attributes.CSS_LENGTH_UNITS = units
    box = Box()
    if kept:
        box.margin = [text]
        assert box.margin == [text] * 4
    else:  # converted to None items, which the check refuses
        with pytest.raises(ValueError, match="has items that are not lengths"):
            box.margin = [text]
    assert _testsupport.table_call(Box.margin, "convert", box, [text]) == [text if kept else None] * 4


def test_unit_entries_of_other_types_see_the_two_last_characters_in_order(restored_namespaces):
    from tavo.core._attributes import _VariableListAttribute

    attributes, _ = restored_namespaces
    first, last = Unit("zz"), Unit("px")
    attributes.CSS_LENGTH_UNITS = (first, "em", last, "never")

    class Box(EventDispatcher):
        margin = _VariableListAttribute()

    box = Box()
    box.margin = ["12px"]
    assert box.margin == ["12px"] * 4
    assert first.seen == ["px"] and last.seen == ["px"]
    box.margin = ["3em"]
    assert first.seen == ["px", "em"] and last.seen == ["px"]


@pytest.mark.parametrize(
    "text",
    ["10px", " 10px", "10px ", "10px 20px", "10px\t20px", "10px\u00a020px", "10px\u300020px", "10px\x1c20px",
     "10px\u200b20px", "1px\n2px\r3px\x0b4px", "   ", "", "10px\u205f", "\u3000\u3000", "1px  2px  3px"],
)
def test_space_separated_texts_split_as_str_split(text):
    from tavo.core._attributes import _VariableListAttribute

    class Box(EventDispatcher):
        margin = _VariableListAttribute()

    def item(part):
        return part if part[-2:] in ("px",) or part[-1:] == "%" else None

    parts = text.split()
    box = Box()
    if len(parts) == 3:
        with pytest.raises(ValueError, match="must have 1, 2 or 4 components"):
            box.margin = text
        return
    expected = [item(text)] * 4 if len(parts) in (0, 1) else [item(part) for part in parts] * (4 // len(parts))
    if None in expected:  # a part without a unit ending: refused by the check
        with pytest.raises(ValueError, match="has items that are not lengths"):
            box.margin = text
        assert box.margin == [0, 0, 0, 0]
    else:
        box.margin = text
        assert box.margin == expected


@pytest.mark.parametrize(
    "value, stored",
    [
        ((1, 2), (1, 2)),  # equal to the tuple option
        ({"a": 1}, {"a": 1}),  # equal to the dict option
        ([1, 2], [1, 2]),  # equal to the list option [1, 2.0], item by item
        ([1, 3], ValueError),  # a list is never equal to the tuple (1, 3)
        ((5, 6), ValueError),  # nor a tuple to the list [5, 6]
        ([255, 0, 0], [255, 0, 0]),
        ("inherit", "inherit"),
    ],
)
def test_options_of_container_types(value, stored):
    from tavo.core._attributes import _ColorAttribute

    class Box(EventDispatcher):
        color = _ColorAttribute(options=[(1, 2), {"a": 1}, [1, 2.0], (1, 3), [5, 6], "inherit", None, 4])

    box = Box()
    if stored is ValueError:
        with pytest.raises(ValueError, match="must have 3 or 4 components"):
            box.color = value
    else:
        box.color = value
        assert box.color == stored and type(box.color) is type(stored)


def test_keyword_names_passed_to_callables_are_interned():
    # Callees match keyword names to their parameters by identity first.
    import sys

    from tavo.core._attributes import _GenericEventAttribute

    received = {}

    def renderer(obj, name, **keywords):
        received.update(keywords)
        return "r"

    class Page(EventDispatcher):
        onclick = _GenericEventAttribute(True, eventhandler=renderer)

        def register_event(self, name, **keywords):
            received.update(keywords)

    page = Page()
    assert Page.onclick.attrvalue(page) == "r"
    assert sorted(received) == ["client", "dispatch", "event_args", "event_js", "prevent_default"]
    assert all(key is sys.intern(key) for key in received)


NUMBERS = [0, -7, 2**63 - 1, -2**63, 2**63, 10**30, 0.0, -0.0, 10.0, 0.1, 1e16, 1e-5, -2.5e-7, 123456.789,
           5e-324, True, 3 + 0j]


@pytest.mark.parametrize("number", NUMBERS)
def test_numbers_in_list_renderings_read_as_str_gives(number):
    # Exact ints and floats are written without the runtime's formatting;
    # every rendering must still read as str() and format() give for what
    # is stored (defaults are stored without a check).
    from tavo.core._attributes import _ColorAttribute, _ListAttribute, _VariableListAttribute

    other = 6 if number == 5 else 5
    quads = [number, other, number, other]

    class Lists(EventDispatcher):
        css = _ColorAttribute(list(quads), format="css")
        plain = _ColorAttribute(list(quads))
        items = _ListAttribute(list(quads))
        if type(number) in (int, float):  # its conversion refuses the others
            spaced = _VariableListAttribute(list(quads))

    owner = Lists()
    assert Lists.css.attrvalue(owner) == "rgba({0}, {1}, {2}, {3})".format(*owner.css)
    if type(number) in (int, float):
        assert Lists.spaced.attrvalue(owner) == " ".join(str(item) for item in owner.spaced)
    assert Lists.items.attrvalue(owner) == ", ".join(str(item) for item in owner.items)
    if not isinstance(number, complex):
        expected = [item / 255 for item in owner.plain[:3]] + [owner.plain[3]]
        assert Lists.plain.attrvalue(owner) == "{0}, {1}, {2}, {3}".format(*expected)
