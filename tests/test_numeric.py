"""_NumericAttribute and _BoundedNumericAttribute: conversion, checks, units."""
import math

import pytest

from tavo.core import _testsupport
from tavo.core._attributes import CSS_LENGTH_UNITS, _BoundedNumericAttribute, _NumericAttribute
from tavo.core._event import EventDispatcher


class Box(EventDispatcher):
    width = _NumericAttribute(units="px", options=["inherit", ("odd", "option")], attrtype="style")
    size = _NumericAttribute()
    opacity = _BoundedNumericAttribute(1.0, min=0, max=1, options=["auto", -1])
    zoom = _BoundedNumericAttribute(5, min=0, units="%")
    level = _BoundedNumericAttribute(2)  # no bounds


class IntSub(int):
    pass


class ListSub(list):
    pass


def entry_names(excinfo):
    return [entry.frame.code.raw.co_name for entry in excinfo.traceback]


@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
def test_defaults_and_getters(cls):
    attr = cls()
    assert (attr.options, attr.sync, attr.attrtype) == ([], 0, "")
    assert [d for d in cls.__dict__ if not d.startswith("_") and d != "attrvalue"] == [
        "sync",
        "attrname",
        "attrtype",
        "options",
    ]


@pytest.mark.parametrize(
    "value, stored",
    [
        (None, None),
        (12, 12),
        (2.5, 2.5),
        ("inherit", "inherit"),
        (("odd", "option"), ("odd", "option")),
        ("10px", 10.0),
        ("0.1px", 0.10000000149011612),
        ([10, "px"], 10.0),
        ((3, "em"), 3.0),
    ],
)
def test_numeric_convert(value, stored):
    owner = Box()
    result = _testsupport.table_call(Box.width, "convert", owner, value)
    assert result == stored and type(result) is type(stored)


@pytest.mark.parametrize(
    "value, message",
    [
        (True, "Box.width has an invalid format (got True)"),
        ({}, "Box.width has an invalid format (got {})"),
        (ListSub([1, "px"]), "Box.width has an invalid format (got [1, 'px'])"),
        (IntSub(3), "Box.width has an invalid format (got 3)"),
        ([1], "Box.width must have 2 components (got [1])"),
        ((1, "px", 2), "Box.width must have 2 components (got (1, 'px', 2))"),
    ],
)
def test_numeric_convert_errors(value, message):
    owner = Box()
    with pytest.raises(ValueError) as info:
        owner.width = value
    assert str(info.value) == message
    assert "tavo.core._attributes._NumericAttribute.convert" in entry_names(info)


def test_numeric_unit_parser_errors_pass_through():
    owner = Box()
    with pytest.raises(ValueError) as info:
        owner.width = "tenpx"
    assert "tavo.core._attributes._NumericAttribute.convert" in entry_names(info)


@pytest.mark.parametrize("value, result", [(1.5, None), (3, None), ("anything", None), (None, True), ("inherit", None)])
def test_numeric_check_accepts(value, result):
    assert _testsupport.table_call(Box.width, "check", Box(), value) is result


def test_numeric_check_refuses():
    owner = Box()
    with pytest.raises(ValueError) as info:
        _testsupport.table_call(Box.size, "check", owner, True)
    assert str(info.value) == (
        "Box.size accept only int/float/str and is set to an invalid option True. Must be one of: []"
    )
    assert entry_names(info)[-1] == "tavo.core._attributes._NumericAttribute.check"
    with pytest.raises(ValueError, match=r"Must be one of: \['inherit', \('odd', 'option'\)\]$"):
        _testsupport.table_call(Box.width, "check", owner, 1 + 2j)


@pytest.mark.parametrize(
    "value, expected",
    [("10px", "10.0px"), (10, "10px"), ("0.1px", "0.10000000149011612px"), ("inherit", "inherit"), (None, "")],
)
def test_numeric_rendering_through_assignment(value, expected):
    owner = Box()
    owner.width = value
    assert Box.width.attrvalue(owner) == expected


@pytest.mark.parametrize(
    "value",
    [0, 7, -7, 2**63 - 1, -2**63, 2**63, -2**63 - 1, 10**30, 0.0, -0.0, 10.0, 0.1, 1e16, 1e15, 1e-5, -2.5e-7,
     123456.789, 1.7976931348623157e308, 5e-324, IntSub(3), True, 2.5],
)
@pytest.mark.parametrize("unit", ["px", "%", "\u00b5m", 3])
@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
def test_a_number_and_its_unit_render_as_format_does(cls, value, unit):
    # The texts of exact ints and floats with an ASCII unit are written
    # natively; every value and unit must still read as "{0}{1}".format gives.
    class Unit(cls):
        def get_units(self, obj):
            return unit

    class Owner(EventDispatcher):
        gap = cls(None, units="px", options=[IntSub(3), True])
        other = Unit(None, units="px", options=[IntSub(3), True])

    owner = Owner()
    owner.gap = owner.other = value
    assert Owner.gap.attrvalue(owner) == "{0}{1}".format(value, "px")
    assert Owner.other.attrvalue(owner) == "{0}{1}".format(value, unit)


def test_rendering_without_unit_and_with_a_python_get_units():
    owner = Box()
    owner.size = 10.0
    assert Box.size.attrvalue(owner) == "10.0"

    class Em(_NumericAttribute):
        def get_units(self, obj):
            return "em"

    class Owner(EventDispatcher):
        gap = Em(2)

    assert Owner.gap.attrvalue(Owner()) == "2em"

    class Failing(_NumericAttribute):
        def get_units(self, obj):
            raise LookupError("no units")

    class Other(EventDispatcher):
        gap = Failing(2)

    with pytest.raises(LookupError) as info:
        Other.gap.attrvalue(Other())
    assert "tavo.core._attributes._NumericAttribute.attrvalue" in entry_names(info)


@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
def test_get_units_found_on_the_instance_of_a_subclass_wins(cls):
    # The base's get_units is called directly only where nothing could be
    # found before it; an instance's own attribute is found first.
    Sub = type("Sub", (cls,), {})
    attr = Sub(2, units="px")
    attr.get_units = lambda obj: "vh"

    class Owner(EventDispatcher):
        gap = attr
        plain = Sub(2, units="px")

    owner = Owner()
    assert (Owner.gap.attrvalue(owner), Owner.plain.attrvalue(owner)) == ("2vh", "2px")


def test_numeric_constructor_passes_arguments_on():
    class Owner(EventDispatcher):
        a = _NumericAttribute(5, units="px", allownone=False)
        b = _NumericAttribute(7, 8)

    owner = Owner()
    assert (owner.a, owner.b) == (5, 7)
    owner.a = None  # allownone is always set
    assert Owner.a.attrvalue(owner) == ""
    with pytest.raises(TypeError, match="Expected str, got int") as info:
        _NumericAttribute(attrname=3)
    assert "tavo.core._attributes._NumericAttribute.__init__" in entry_names(info)


# ---- bounded ----------------------------------------------------------------


def test_bounded_options_skip_the_base():
    owner = Box()
    owner.opacity = "auto"
    assert owner.opacity == "auto"
    assert Box.opacity.attrvalue(owner) == "auto"
    assert _testsupport.table_call(Box.opacity, "check", owner, "auto") is True
    assert _testsupport.table_call(Box.opacity, "convert", owner, None) is None
    # a number among the options is converted unchanged but still bounds-checked
    assert _testsupport.table_call(Box.opacity, "convert", owner, -1) == -1
    with pytest.raises(ValueError) as info:
        owner.opacity = -1
    assert "tavo.core._attributes._BoundedNumericAttribute.check" in entry_names(info)


def test_bounded_numbers_go_to_the_base():
    owner = Box()
    owner.opacity = 0.5
    assert owner.opacity == 0.5
    with pytest.raises(ValueError):
        owner.opacity = 2
    assert owner.opacity == 0.5
    owner.zoom = "50%"
    assert owner.zoom == 50.0
    assert Box.zoom.attrvalue(owner) == "50.0%"
    owner.zoom = 5
    assert Box.zoom.attrvalue(owner) == "5%"


@pytest.mark.parametrize("value", [True, "tall", None])
def test_bounded_check_refuses_what_is_not_a_number_or_option(value):
    with pytest.raises(ValueError) as info:
        _testsupport.table_call(Box.opacity, "check", Box(), value)
    assert str(info.value) == (
        f"Box.opacity accept only int/float/str and is set to an invalid option {value!r}. "
        "Must be one of: ['auto', -1]"
    )


def test_bounded_rendering_without_unit():
    class Owner(EventDispatcher):
        level = _BoundedNumericAttribute(5.0, min=0, max=10)

    assert Owner.level.attrvalue(Owner()) == "5.0"


@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
@pytest.mark.parametrize(
    "units, expected",
    [(None, "5"), (0, "5"), (False, "5"), ([], "5"), ("", "5"), ("em", "5em"), (1, "51")],
)
def test_python_get_units_decides_by_truth_not_by_type(cls, units, expected):
    class Unit(cls):
        def get_units(self, obj):
            return units

    class Owner(EventDispatcher):
        gap = Unit(0, units="px")

    owner = Owner()
    owner.gap = 5
    assert Owner.gap.attrvalue(owner) == expected


# ---- NaN and the infinities ---------------------------------------------------

NON_FINITE = [
    # (assigned value, what the message shows, the entry that refuses it)
    (math.nan, "nan", "check"),
    (math.inf, "inf", "check"),
    (-math.inf, "-inf", "check"),
    ("nanpx", "'nanpx'", "convert"),
    ("infpx", "'infpx'", "convert"),
    ("-inf%", "'-inf%'", "convert"),
    ("1e400px", "'1e400px'", "convert"),  # reads as an infinity
    ("inf", "'inf'", "convert"),
    (("nan", "px"), "'nan'", "convert"),
    ([math.inf, "%"], "inf", "convert"),
]


@pytest.mark.parametrize("prop", ["width", "opacity", "zoom", "level"])
@pytest.mark.parametrize("value, shown, entry", NON_FINITE)
def test_non_finite_numbers_are_refused(prop, value, shown, entry):
    owner = Box()
    setattr(owner, prop, "0.5%")
    before = getattr(owner, prop)
    calls = []
    owner.bind(**{prop: lambda obj, value: calls.append(value)})
    with pytest.raises(ValueError) as info:
        setattr(owner, prop, value)
    assert str(info.value) == f"Box.{prop} accept only finite numbers (got {shown})"
    cls = "_NumericAttribute" if prop == "width" else "_BoundedNumericAttribute"
    assert f"tavo.core._attributes.{cls}.{entry}" in entry_names(info)
    assert getattr(owner, prop) == before == 0.5 and calls == []
    assert getattr(Box, prop).attrvalue(owner) == "0.5%"


@pytest.mark.parametrize("value", [math.nan, math.inf])
def test_numeric_check_entry_refuses_non_finite_floats(value):
    with pytest.raises(ValueError, match=r"^Box\.size accept only finite numbers") as info:
        _testsupport.table_call(Box.size, "check", Box(), value)
    assert entry_names(info)[-1] == "tavo.core._attributes._NumericAttribute.check"


@pytest.mark.parametrize("prop", ["width", "level"])
@pytest.mark.parametrize("value, stored", [(1e-300, 1e-300), (-1.7e308, -1.7e308), ("3.4e38px", 3.3999999521443642e38)])
def test_extreme_finite_numbers_are_kept(prop, value, stored):
    owner = Box()
    setattr(owner, prop, value)
    assert getattr(owner, prop) == stored


# ---- units given at declaration ---------------------------------------------------


@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
@pytest.mark.parametrize("units", ["pxx", "PX", "p", " px", "%%", "auto"])
def test_unknown_units_are_refused_at_declaration(cls, units):
    with pytest.raises(ValueError) as info:
        cls(1, units=units)
    assert str(info.value) == (
        f"{cls.__name__} units is not a known unit (got {units!r}): give one of CSS_LENGTH_UNITS "
        f"{CSS_LENGTH_UNITS!r}, '%' or ''"
    )
    assert f"tavo.core._attributes.{cls.__name__}.__init__" in entry_names(info)


@pytest.mark.parametrize("cls", [_NumericAttribute, _BoundedNumericAttribute])
@pytest.mark.parametrize("units, rendered", [("", "3"), ("%", "3%"), ("vb", "3vb"), ("in", "3in")])
def test_known_units_render_after_the_number(cls, units, rendered):
    owner = type("Owner", (EventDispatcher,), {"gap": cls(0, units=units)})()
    owner.gap = 3
    assert type(owner).gap.attrvalue(owner) == rendered


class FloatShy:
    """An option whose comparison with a float fails (and with anything else
    is plain identity): the comparison after a unit text's conversion fails."""

    def __eq__(self, other):
        if isinstance(other, float):
            raise ArithmeticError("no comparison with a float")
        return other is self

    __hash__ = object.__hash__

    def __str__(self):
        return "shy"


SHY = FloatShy()


def refusing_box(kind):
    if kind == "bounds":
        attr = _BoundedNumericAttribute(0.5, min=0, max=1, units="px")
    elif kind == "bounded compare":
        attr = _BoundedNumericAttribute(SHY, min=-100, max=100, units="px", options=[SHY])
    else:
        attr = _NumericAttribute(SHY, units="px", options=[SHY])
    return type("Refusing", (EventDispatcher,), {"b": attr})


@pytest.mark.parametrize("kind", ["bounds", "bounded compare", "compare"])
@pytest.mark.parametrize("given", ["5em", ("7", "em"), ["-7", "vh"], "-3%", (300, "%")])
def test_a_refused_value_leaves_the_rendering_and_the_unit(kind, given):
    cls = refusing_box(kind)
    owner = cls()
    before = (owner.b, cls.b.attrvalue(owner), cls.b.get_units(owner))
    calls = []
    owner.bind(b=lambda o, v: calls.append(v))
    with pytest.raises((ValueError, ArithmeticError)):
        owner.b = given
    assert (owner.b, cls.b.attrvalue(owner), cls.b.get_units(owner)) == before
    assert calls == []


def test_the_reported_bounded_refusal():
    cls = refusing_box("bounds")
    owner = cls()
    with pytest.raises(ValueError, match=r"^Refusing\.b is above the maximum bound \(1\)$"):
        owner.b = "5em"
    assert (owner.b, cls.b.attrvalue(owner), cls.b.get_units(owner)) == (0.5, "0.5px", "px")


@pytest.mark.parametrize("prop", ["width", "size", "zoom", "level"])
@pytest.mark.parametrize(
    "stored, given, changed, rendered",
    [
        ("10px", "10em", True, "10.0em"),
        ("10px", ("10", "vh"), True, "10.0vh"),
        ("10em", "10%", True, "10.0%"),
        ("10px", "10px", False, "10.0px"),
        ("10px", [10, "px"], False, "10.0px"),
        ("10px", 10.0, False, "10.0px"),
    ],
)
def test_the_same_number_with_another_unit_is_a_change(prop, stored, given, changed, rendered):
    owner = Box()
    setattr(owner, prop, stored)
    calls = []
    owner.bind(**{prop: lambda o, v: calls.append(v)})
    setattr(owner, prop, given)
    assert calls == ([10.0] if changed else [])
    assert getattr(Box, prop).attrvalue(owner) == rendered
