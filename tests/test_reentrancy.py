"""User code that runs in the middle of an operation: re-entrancy, lifetimes, collections."""
import gc
import weakref

import pytest

from tavo.core import _testsupport
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


class Emptying:
    """Compares unequal and, while compared, empties the list it was given."""

    def __init__(self, victim):
        self.victim = victim

    def __eq__(self, other):
        self.victim.clear()
        self.victim.extend(range(50))
        gc.collect()
        return False

    __hash__ = object.__hash__


class Reinitialising:
    """Compares unequal and, while compared, re-runs the attribute's constructor,
    which replaces its options list."""

    def __init__(self, attr):
        self.attr = attr

    def __eq__(self, other):
        self.attr.__init__(options=[object() for _ in range(20)])
        gc.collect()
        return False

    __hash__ = object.__hash__


OPTION_TESTS = [
    (_NumericAttribute, "convert"),
    (_NumericAttribute, "check"),
    (_BoundedNumericAttribute, "convert"),
    (_BoundedNumericAttribute, "check"),
    (_VariableListAttribute, "convert"),
    (_ColorAttribute, "convert"),
]


# Run once in the leak run: a full collection inside every comparison, repeated over
# the leak run's grown heap, takes minutes per case; the membership tests and
# constructions they interrupt are leak-checked by the attribute classes' suites.
@pytest.mark.no_leakcheck
@pytest.mark.parametrize("cls, entry", OPTION_TESTS)
@pytest.mark.parametrize("make_hostile", [lambda attr: Emptying(attr.options), Reinitialising])
def test_options_changed_during_the_membership_test(cls, entry, make_hostile):
    attr = cls(options=["a", "b", "c"])
    owner_class = type("Owner", (EventDispatcher,), {"prop": attr})
    owner = owner_class()
    if cls is _ColorAttribute and make_hostile is not Reinitialising:
        return  # its options are not visible
    hostile = make_hostile(attr)
    try:
        _testsupport.table_call(attr, entry, owner, hostile)
    except ValueError:
        pass
    if cls is not _ColorAttribute:
        assert len(attr.options) in (20, 50)


@pytest.mark.parametrize("cls, entry", [(_NumericAttribute, "convert"), (_BoundedNumericAttribute, "convert")])
def test_option_item_that_empties_the_list_after_plain_items(cls, entry):
    # The plain items are compared without running code; the first item that
    # runs code may release the list and the items after it.
    attr = cls(options=["a", "b"])
    attr.options.append(Emptying(attr.options))
    attr.options.append("c")
    owner = type("Owner", (EventDispatcher,), {"prop": attr})()
    with pytest.raises(ValueError):
        _testsupport.table_call(attr, entry, owner, "c")
    assert attr.options == list(range(50))


@pytest.mark.parametrize("values", [None, [1, 2, 3]])
def test_option_hash_that_empties_the_options_while_values_are_paired(values):
    attr = _Attribute()

    class Emptier:
        def __hash__(self):
            attr.options.clear()
            gc.collect()
            return 1

    first = Emptier()
    keywords = {} if values is None else {"values": values}
    attr.__init__(options=[first, "x", "y"], **keywords)
    assert attr.options == []
    expected = [first, "x", "y"] if values is None else values
    assert list(attr.values) == [first, "x", "y"] and list(attr.values.values()) == expected


def test_list_emptied_while_its_first_item_is_converted():
    import tavo.core._attributes as attributes

    value = ["1px", "2px"]

    class Unit:
        def __eq__(self, other):
            value.clear()
            return False

        __hash__ = object.__hash__

    owner = type("Owner", (EventDispatcher,), {"margin": _VariableListAttribute()})()
    saved = attributes.CSS_LENGTH_UNITS
    attributes.CSS_LENGTH_UNITS = [Unit()]
    try:
        with pytest.raises(IndexError, match="list index out of range"):
            owner.margin = value
    finally:
        attributes.CSS_LENGTH_UNITS = saved
    assert owner.margin == [0, 0, 0, 0]


def test_per_owner_options_replaced_during_the_check():
    class Owner(EventDispatcher):
        mode = _Attribute("a", options=["a", "b"])

    owner = Owner()
    record = owner.property_storage["mode"]

    class Replacing(str):
        def __eq__(self, other):
            record.options = ["x"]
            gc.collect()
            return False

        __hash__ = str.__hash__

    with pytest.raises(ValueError, match=r"Must be one of: \['a', 'b'\]$"):
        owner.mode = Replacing("z")
    assert record.options == ["x"]


def test_reinitialised_during_rendering():
    class Owner(EventDispatcher):
        label = _Attribute("a", options=["a"], values=["A"])

    owner = Owner()

    class Key(str):
        def __hash__(self):
            Owner.label.__init__("a", options=["a"], values=["new"])
            gc.collect()
            return str.__hash__(self)

        def __eq__(self, other):
            return str.__eq__(self, other)

    owner.label = Key("a")
    assert Owner.label.attrvalue(owner) in ("A", "new")


def test_get_units_that_reassigns_and_removes_the_attribute():
    class Owner(EventDispatcher):
        pass

    class Units(_NumericAttribute):
        def get_units(self, obj):
            obj.width = 99
            delattr(type(obj), "width")
            gc.collect()
            return "px"

    Owner.width = Units(5)
    Owner.width.__set_name__(Owner, "width")
    owner = Owner()
    attr = Owner.width
    ref = weakref.ref(attr)
    assert attr.attrvalue(owner) == "5px"
    del attr
    gc.collect()
    assert ref() is None


def test_renderer_that_reassigns_removes_and_collects():
    seen = []

    def renderer(obj, name, **kwargs):
        obj.onclick = False
        seen.append(type(obj).__dict__.get("onclick"))
        delattr(type(obj), "onclick")
        gc.collect()
        return "handled"

    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute(True, renderer)

    owner = Owner()
    attr = Owner.onclick
    assert attr.attrvalue(owner) == "handled"
    assert owner.property_storage["onclick"].value is False
    assert seen == [attr]


def test_register_event_that_assigns_and_collects():
    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute()
        flag = _BooleanAttribute()

        def register_event(self, name, client=False):
            self.onclick = True
            gc.collect()
            return super().register_event(name, client=client)

    owner = Owner()
    assert owner.onclick is True
    assert "on_click" in owner.client_events


@pytest.mark.parametrize(
    "factory",
    [
        lambda: _BooleanAttribute(allownone=True),
        lambda: _LogicalAttribute(),
        lambda: _ListAttribute(allownone=True),
        lambda: _GenericEventAttribute(True, "x()"),
    ],
)
def test_raising_truth_test_in_every_rendering_that_tests_truth(factory):
    class Falsy:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    attr = factory()
    owner_class = type("Owner", (EventDispatcher,), {"prop": attr})
    owner = owner_class()
    owner.property_storage["prop"].value  # the record exists
    _testsupport.table_call(attr, "init_storage", owner, owner.property_storage["prop"])

    class Override(type(attr)):
        def get_value(self, obj):
            return Falsy()

    sub = Override()
    with pytest.raises(ZeroDivisionError):
        sub.attrvalue(owner)


@pytest.mark.parametrize("name, error", [(5, TypeError), (b"x", TypeError), (None, AttributeError)])
def test_name_changed_by_a_subclass_property(name, error):
    class Renamed(_Attribute):
        @property
        def name(self):
            return name

    class Owner(EventDispatcher):
        prop = Renamed(options=["a"])

    owner = Owner()
    with pytest.raises(error):
        Owner.prop.attrname
    with pytest.raises(ValueError) as info:
        owner.prop = "z"
    assert str(info.value).startswith(f"Owner.{name}" if isinstance(name, (int, type(None))) else "Owner.b'x'")


class CollectingInt:
    """An integer conversion that runs the collector."""

    def __int__(self):
        gc.collect()
        return 1


class CollectingIterable:
    def __iter__(self):
        gc.collect()
        return iter(["a", "b"])


@pytest.mark.no_leakcheck  # as above: a full collection at each step of a construction
@pytest.mark.parametrize(
    "cls",
    [
        _Attribute,
        _NumericAttribute,
        _BoundedNumericAttribute,
        _BooleanAttribute,
        _LogicalAttribute,
        _VariableListAttribute,
        _ListAttribute,
        _ColorAttribute,
        _GenericEventAttribute,
    ],
)
def test_collection_in_the_middle_of_construction(cls):
    keywords = {"sync": CollectingInt()}
    if cls in (_Attribute, _NumericAttribute, _BoundedNumericAttribute, _VariableListAttribute, _ColorAttribute):
        keywords["options"] = CollectingIterable()
    attrs = [cls(**keywords) for _ in range(5)]
    gc.collect()
    assert all(attr.sync == 1 for attr in attrs)


class Holder:
    """A hashable object holding a list."""

    def __init__(self):
        self.items = []


def test_cycles_through_every_object_field_are_collected():
    holder = Holder()
    attrs = [
        _Attribute(options=[holder]),
        _Attribute(options=["a"], values=[holder]),
        _NumericAttribute(options=[holder]),
        _BoundedNumericAttribute(options=[holder]),
        _VariableListAttribute(options=[holder]),
        _ColorAttribute(options=[holder]),
        _ListAttribute(length=holder),
        _GenericEventAttribute(True, lambda *a, **k: holder),
        _GenericEventAttribute(True, None, eventargs=[holder]),
    ]
    holder.items.extend(attrs)
    refs = [weakref.ref(attr) for attr in attrs]
    del attrs, holder
    gc.collect()
    assert [ref() for ref in refs] == [None] * len(refs)


def test_cycle_through_the_owner_is_collected():
    class Owner(EventDispatcher):
        text = _Attribute()
        items = _ListAttribute()
        onclick = _GenericEventAttribute(True, "x()")

    owner = Owner()
    owner.text = "a"
    owner.items = [owner]
    owner.bind(text=lambda obj, value: owner)
    ref = weakref.ref(owner)
    del owner
    gc.collect()
    assert ref() is None


# ---- finalizers that run inside an allocation ---------------------------------
#
# On 3.11 the allocation of any collected object may run the collector, whose
# finalizers are plain Python code. These cases put such a finalizer at every
# allocation of an operation in turn (the collector's threshold counts them)
# and let it change what the operation had looked up before.


class Finalizer:
    """A garbage cycle whose __del__ runs `action` once; what it raises is kept
    in `errors` (the collector would only print it)."""

    errors = []

    def __init__(self, action):
        self.action = action
        self.cycle = self

    def __del__(self):
        action, self.action = self.action, None
        if action is not None:
            try:
                action()
            except BaseException as error:  # noqa: B036 - reported by with_finalizer_at
                Finalizer.errors.append(error)


def with_finalizer_at(allocation, action, operation):
    """Run `operation` with a finalizer running `action` collected at about its
    `allocation`-th allocation of a collected object."""
    gc.collect(0)  # the young generation's count starts from nothing
    Finalizer(action)
    threshold = gc.get_threshold()
    gc.set_threshold(allocation)
    try:
        result = operation()
    finally:
        gc.set_threshold(*threshold)
        gc.collect(0)  # the finalizer, if no allocation ran it
    errors, Finalizer.errors[:] = list(Finalizer.errors), []
    assert not errors
    return result


ALLOCATIONS = range(1, 12)
# Each case runs one operation with a collection at a set allocation: the leak
# run repeats the operations through the other tests instead.
at_allocations = [pytest.mark.no_leakcheck, pytest.mark.parametrize("allocation", ALLOCATIONS)]


def at_each_allocation(test):
    for mark in reversed(at_allocations):
        test = mark(test)
    return test


@at_each_allocation
def test_owner_creation_when_a_finalizer_deletes_the_class_properties(allocation):
    from tavo.core.properties import NumericProperty, StringProperty

    names = [f"p{i}" for i in range(8)]
    body = {name: StringProperty(name) for name in names}
    body["n"] = NumericProperty(1)
    owner_class = type("Owner", (EventDispatcher,), body)
    owner_class()  # its properties are remembered by the creation
    intruders = []

    def delete_and_reuse():
        for name in names + ["n"]:
            delattr(owner_class, name)
        # New properties in the blocks the deleted ones left.
        intruders.extend(StringProperty("intruder") for _ in range(40))

    del body
    owner = with_finalizer_at(allocation, delete_and_reuse, owner_class)
    # The creation went on with the properties it had listed, all alive.
    assert set(owner.property_storage) <= set(names + ["n"])


@at_each_allocation
def test_owner_creation_when_a_finalizer_creates_owners_of_other_classes(allocation):
    from tavo.core.properties import StringProperty

    def make_class(size):
        return type("Owner", (EventDispatcher,), {f"p{i}": StringProperty(str(i)) for i in range(size)})

    # Consecutive version tags: one of them takes the remembered class's place.
    others = [make_class(40) for _ in range(70)]
    owner_class = make_class(20)
    owner_class()
    owner = with_finalizer_at(allocation, lambda: [cls() for cls in others], owner_class)
    assert sorted(owner.property_storage) == sorted(f"p{i}" for i in range(20))


@at_each_allocation
def test_start_tag_when_a_finalizer_renders_the_changed_class(allocation):
    from tavo.html import start_tag

    class Panel(EventDispatcher):
        title = _Attribute("a", attrtype="element")
        width = _NumericAttribute(10, attrtype="style")

    panel = Panel()
    expected = start_tag(panel, "div")
    Panel.width = _NumericAttribute(10, attrtype="style")  # a new class state: the layout is made again
    Panel.width.__set_name__(Panel, "width")
    tag = with_finalizer_at(allocation, lambda: [start_tag(panel, "div") for _ in range(3)],
                            lambda: start_tag(panel, "div"))
    assert tag == expected


class CodeText(str):
    """Event code text with a namespace of its own."""


class CodeSource:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


def test_cycle_through_the_event_code_text_is_collected():
    text = CodeText("go()")
    attr = _GenericEventAttribute(True, None, eventjs=CodeSource(text))
    text.attr = attr
    ref = weakref.ref(attr)
    del attr, text
    gc.collect()
    assert ref() is None


class PageName(str):
    """A page name with a namespace of its own."""


@pytest.mark.parametrize("where", ["attrname", "tag"])
def test_names_a_rendering_checked_do_not_keep_the_class_alive(where):
    from tavo.html import start_tag

    class Named(_Attribute):
        @property
        def attrname(self):
            return name

    def render_once():
        nonlocal name
        name = PageName("data-x")

        class Card(EventDispatcher):
            x = (Named if where == "attrname" else _Attribute)("v", attrtype="element", attrname="data-x")

        tag = PageName("div") if where == "tag" else "div"
        (name if where == "attrname" else tag).owner_class = Card
        assert start_tag(Card(), tag) == '<div data-x="v">'
        return weakref.ref(Card)

    name = None
    ref = render_once()
    name = None
    gc.collect()
    assert ref() is None


@at_each_allocation
@pytest.mark.parametrize("first, meanwhile", [("assign", "bind"), ("bind", "assign"), ("read map", "assign")])
def test_first_use_of_a_kept_default_when_a_finalizer_uses_it_too(allocation, first, meanwhile):
    from tavo.core.properties import StringProperty

    class Owner(EventDispatcher):
        text = StringProperty("a")

    owner = Owner()  # `text` is kept as its default until first used
    seen = []

    def use(how, value):
        if how == "assign":
            owner.text = value
        elif how == "bind":
            owner.bind(text=lambda obj, new: seen.append(new))
        else:
            owner.property_storage

    with_finalizer_at(allocation, lambda: use(meanwhile, "meanwhile"), lambda: use(first, "first"))
    # Neither use is lost, whenever the finalizer ran: the value assigned
    # stays, and the observer bound sees the next assignment.
    assert owner.text == ("first" if first == "assign" else "meanwhile")
    owner.text = "last"
    assert seen[-1:] == (["last"] if "bind" in (first, meanwhile) else [])


class RegisteringName(str):
    """An event name whose first comparison registers other events on the owner."""

    def __eq__(self, other):
        owner, self.owner = self.owner, None
        if owner is not None:
            for i in range(20):
                owner.register_event(f"other_{i}", client=self.client)
            gc.collect()
        return str.__eq__(self, other)

    __hash__ = str.__hash__


@pytest.mark.parametrize("client", [True, False])
def test_register_event_whose_name_comparison_registers_more(client):
    owner = EventDispatcher()
    owner.register_event("on_first", client=client)
    name = RegisteringName("on_second")
    name.owner, name.client = owner, client
    owner.register_event(name, client=client)
    names = ["on_first", "on_second"] + [f"other_{i}" for i in range(20)]
    if client:
        # Nothing registered while the names were compared is lost.
        assert sorted(owner.client_events) == sorted(names)
    else:
        owner.bind(**{name: (lambda *args: None) for name in names})
