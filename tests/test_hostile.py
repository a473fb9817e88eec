"""Generated hostile input for every operation of every attribute class.

Whatever is assigned, rendered or passed to a constructor or a table entry, the
module must not crash, must fail only with the documented exception types, and
must store nothing when an assignment fails.
"""
import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

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


class Boom(Exception):
    """Raised by the hostile objects below."""


class StrSub(str):
    pass


class IntSub(int):
    pass


class FloatSub(float):
    pass


class ListSub(list):
    pass


class TupleSub(tuple):
    pass


def _raise(*args, **kwargs):
    raise Boom("hostile")


class Hostile:
    """An object one of whose special methods raises or returns nonsense."""

    NONSENSE = {
        "__eq__": lambda self, other: Hostile("__bool__"),
        "__bool__": lambda self: "yes",
        "__index__": lambda self: "1",
        "__int__": lambda self: 2.5,
        "__len__": lambda self: -1,
        "__iter__": lambda self: 5,
        "__str__": lambda self: 5,
        "__repr__": lambda self: None,
        "__format__": lambda self, spec: 7,
        "__hash__": lambda self: "h",
    }

    def __init__(self, method, nonsense=False):
        self.method = method
        self.nonsense = nonsense

    def __repr__(self):
        return f"Hostile({self.method!r})"


def hostile_class(method, nonsense):
    behaviour = Hostile.NONSENSE[method] if nonsense else _raise
    namespace = {method: behaviour}
    if method == "__eq__":
        namespace["__hash__"] = object.__hash__
    return type(f"Hostile_{method.strip('_')}", (Hostile,), namespace)


HOSTILE_CLASSES = [hostile_class(m, n) for m in Hostile.NONSENSE for n in (False, True)]

hostile_objects = st.sampled_from(HOSTILE_CLASSES).map(lambda cls: cls(cls.__name__))

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.integers(min_value=-(2**200), max_value=2**200),
    st.floats(allow_nan=True, allow_infinity=True),
    st.text(max_size=12),
    st.sampled_from(["10px", "0.1px", "50%", "10px 20px", " 1em 2em 3em 4em ", "#fff", "#12345678", "inherit",
                     "", " ", "px", "é€𝄞", "#ff000080"]),
    st.binary(max_size=6),
    st.builds(StrSub, st.sampled_from(["10px", "a", "inherit", ""])),
    st.builds(IntSub, st.integers(-5, 5)),
    st.builds(FloatSub, st.floats(-5, 5)),
    hostile_objects,
)

values = st.recursive(
    scalars,
    lambda children: st.one_of(
        st.lists(children, max_size=5),
        st.lists(children, max_size=5).map(tuple),
        st.lists(children, max_size=5).map(ListSub),
        st.lists(children, max_size=5).map(TupleSub),
        st.dictionaries(st.text(max_size=3), children, max_size=3),
    ),
    max_leaves=8,
)


def self_containing_list():
    items = [1, "px"]
    items.append(items)
    return items


EXPECTED = (ValueError, TypeError, KeyError, AttributeError, OverflowError, IndexError, Boom)


class Component(EventDispatcher):
    text = _Attribute("a", options=["a", "b", 3], values=["A", "B", "C"])
    free_text = _Attribute()
    width = _NumericAttribute(10, units="px", options=["auto"])
    opacity = _BoundedNumericAttribute(0.5, min=0, max=1, options=["inherit", 2])
    disabled = _BooleanAttribute(attrname="disabled")
    checked = _LogicalAttribute()
    margin = _VariableListAttribute([0, 0, 0, 0], options=["inherit"])
    padding = _VariableListAttribute([0, 0], length=2)
    classes = _ListAttribute(["a"], length=2)
    anything = _ListAttribute()
    color = _ColorAttribute(options=["inherit"])
    css_color = _ColorAttribute([0, 0, 0], format="css")
    onclick = _GenericEventAttribute(True, lambda obj, name, **kw: f"{name}({kw['event_js']})")
    onfocus = _GenericEventAttribute(True, "focus()")


NAMES = [name for name, value in vars(Component).items() if hasattr(value, "attrvalue")]


def render(name, owner):
    try:
        getattr(Component, name).attrvalue(owner)
    except EXPECTED:
        pass


@pytest.mark.parametrize("name", NAMES)
@given(value=values)
def test_assignment_never_crashes_and_stores_nothing_on_failure(name, value):
    owner = Component()
    before = getattr(owner, name)
    try:
        setattr(owner, name, value)
    except EXPECTED:
        assert getattr(owner, name) is before
    render(name, owner)


@pytest.mark.parametrize("name", NAMES)
def test_self_containing_and_special_values(name):
    for value in [self_containing_list(), math.nan, math.inf, -math.inf, 2**100, (), [()], {"a": 1}, b"px"]:
        owner = Component()
        before = getattr(owner, name)
        try:
            setattr(owner, name, value)
        except EXPECTED:
            assert getattr(owner, name) is before
        render(name, owner)


ENTRIES = {
    "text": ["check", "compare_value", "attrvalue"],
    "width": ["check", "convert", "attrvalue"],
    "opacity": ["check", "convert", "attrvalue"],
    "disabled": ["check", "convert", "attrvalue"],
    "checked": ["attrvalue"],
    "margin": ["convert", "_convert_numeric", "check", "attrvalue"],
    "classes": ["check", "attrvalue"],
    "color": ["convert", "parse_str", "attrvalue"],
    "onclick": ["attrvalue"],
}


@pytest.mark.parametrize("name, entry", [(n, e) for n, entries in ENTRIES.items() for e in entries])
@given(value=values, other=values)
def test_direct_table_calls(name, entry, value, other):
    owner = Component()
    attr = getattr(Component, name)
    if entry == "attrvalue":
        args = (value if isinstance(value, EventDispatcher) else owner, True)
    elif entry == "compare_value":
        args = (value, other)
    elif entry == "parse_str" and not isinstance(value, str):
        args = (owner, str(type(value)))
    else:
        args = (owner, value)
    try:
        _testsupport.table_call(attr, entry, *args)
    except EXPECTED:
        pass


CLASSES = [
    _Attribute,
    _NumericAttribute,
    _BoundedNumericAttribute,
    _BooleanAttribute,
    _LogicalAttribute,
    _VariableListAttribute,
    _ListAttribute,
    _ColorAttribute,
    _GenericEventAttribute,
]
KEYWORDS = ["attrtype", "attrname", "sync", "options", "values", "length", "format", "allownone", "units",
            "eventhandler", "prevent_default", "eventargs", "eventjs", "dispatch", "min", "max"]


@pytest.mark.parametrize("cls", CLASSES)
@given(keywords=st.dictionaries(st.sampled_from(KEYWORDS), values, max_size=4), args=st.lists(values, max_size=2))
def test_construction_with_keywords_of_every_type(cls, keywords, args):
    try:
        attr = cls(*args, **keywords)
    except EXPECTED:
        return
    for getter in ("attrname", "attrtype", "sync", "options", "values"):
        try:
            getattr(attr, getter)
        except EXPECTED:
            pass
    try:
        owner_class = type("Owner", (EventDispatcher,), {"prop": attr})
        owner = owner_class()
    except EXPECTED:
        return
    try:
        attr.attrvalue(owner)
    except EXPECTED:
        pass


@pytest.mark.parametrize("cls", CLASSES)
@given(obj=values)
def test_attrvalue_refuses_anything_but_an_owner(cls, obj):
    with pytest.raises(TypeError, match="^Argument 'obj' has incorrect type"):
        cls().attrvalue(obj if obj is not None else 0)
