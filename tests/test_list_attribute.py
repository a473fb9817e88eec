"""_ListAttribute: length and ObservableList checks, comma-separated rendering."""
import gc
import weakref

import pytest

import tavo.core._attributes as attributes
from tavo.core import _testsupport
from tavo.core._attributes import _ListAttribute
from tavo.core._event import EventDispatcher
from tavo.core.properties import ObservableList


class Owner(EventDispatcher):
    items = _ListAttribute()
    pair = _ListAttribute([0, 0], length=2)
    texty = _ListAttribute(length="3")
    maybe = _ListAttribute(allownone=True)


class SubList(ObservableList):
    pass


@pytest.mark.parametrize(
    "value, expected",
    [
        ([1, 2.5, "a"], "1, 2.5, a"),
        ([], ""),
        ([""], ""),
        ([True, None, [1, 2]], "True, None, [1, 2]"),
        # items of every storage width, joined into the widest: a narrower one is widened
        (["a", "é", "€", "\U0001f600", "b"], "a, é, €, \U0001f600, b"),
        (["\U0001f600", "a"], "\U0001f600, a"),
        (["é", "ascii"], "é, ascii"),
    ],
)
def test_rendering(value, expected):
    owner = Owner()
    owner.items = value
    assert Owner.items.attrvalue(owner) == expected


def test_none_renders_empty():
    owner = Owner()
    owner.maybe = None
    assert Owner.maybe.attrvalue(owner) == ""


def test_length_is_checked_before_the_type():
    owner = Owner()
    with pytest.raises(ValueError, match="^Length of input array is wrong, must be 2$"):
        owner.pair = [1, 2, 3]
    owner.pair = [3, 4]
    assert owner.pair == [3, 4]
    with pytest.raises(ValueError, match="^Length of input array is wrong, must be 2$"):
        _testsupport.table_call(Owner.pair, "check", owner, [1, 2, 3])
    with pytest.raises(ValueError, match=r"^Owner\.pair accept only ObservableList$"):
        _testsupport.table_call(Owner.pair, "check", owner, [1, 2])


def test_only_an_exact_observable_list_passes():
    owner = Owner()
    observable = owner.items
    assert type(observable) is ObservableList
    assert _testsupport.table_call(Owner.items, "check", owner, observable) is None
    with pytest.raises(ValueError, match=r"^Owner\.items accept only ObservableList$") as info:
        owner.items = SubList([1])
    assert info.traceback[-1].frame.code.raw.co_name == "tavo.core._attributes._ListAttribute.check"
    with pytest.raises(TypeError, match="has no len"):
        _testsupport.table_call(Owner.pair, "check", owner, 5)


class TupleSub(tuple):
    pass


@pytest.mark.parametrize(
    "prop, value, stored, rendered",
    [
        ("items", (1, "a", 2.5), [1, "a", 2.5], "1, a, 2.5"),
        ("items", (), [], ""),
        ("pair", (3, 4), [3, 4], "3, 4"),
    ],
)
def test_tuples_are_stored_as_observable_lists(prop, value, stored, rendered):
    # A tuple used to be refused with "accept only ObservableList".
    owner = Owner()
    setattr(owner, prop, [7, 7])
    calls = []
    owner.bind(**{prop: lambda obj, value: calls.append(value)})
    setattr(owner, prop, value)
    kept = getattr(owner, prop)
    assert type(kept) is ObservableList and kept == stored and calls == [stored]
    assert getattr(Owner, prop).attrvalue(owner) == rendered
    kept.append(9)  # tied to the owner and the property like a converted list
    assert len(calls) == 2


@pytest.mark.parametrize(
    "prop, value, message",
    [
        ("pair", (1, 2, 3), "Length of input array is wrong, must be 2"),
        ("items", TupleSub((1, 2)), "Owner.items accept only ObservableList"),
    ],
)
def test_tuples_are_still_checked(prop, value, message):
    owner = Owner()
    before = getattr(owner, prop)
    with pytest.raises(ValueError) as info:
        setattr(owner, prop, value)
    assert str(info.value) == message
    assert getattr(owner, prop) is before


def test_length_as_text_refuses_every_list():
    with pytest.raises(ValueError, match="must be 3$"):
        Owner().texty = [1, 2, 3]


def test_root_check_acceptance_skips_the_other_tests():
    assert _testsupport.table_call(Owner.maybe, "check", Owner(), None) is True


def test_missing_observable_list_name():
    owner = Owner()
    value = owner.items
    saved = attributes.ObservableList
    del attributes.ObservableList
    try:
        with pytest.raises(NameError, match="^name 'ObservableList' is not defined$"):
            _testsupport.table_call(Owner.items, "check", owner, value)
    finally:
        attributes.ObservableList = saved


def test_constructor_and_length_cycle():
    attr = _ListAttribute(sync=True, attrtype="class")
    assert (attr.sync, attr.attrtype) == (1, "class")
    assert not hasattr(attr, "length")
    cycle = []
    attr = _ListAttribute(length=cycle)
    cycle.append(attr)
    ref = weakref.ref(attr)
    del attr, cycle
    gc.collect()
    assert ref() is None
