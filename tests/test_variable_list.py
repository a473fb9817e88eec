"""_VariableListAttribute: expansion to the target length and space-separated rendering."""
import math

import pytest

import tavo.core._attributes as attributes
from tavo.core import _testsupport
from tavo.core._attributes import _VariableListAttribute
from tavo.core._event import EventDispatcher


class Panel(EventDispatcher):
    margin = _VariableListAttribute([0, 0, 0, 0], attrtype="style", options=["inherit", "auto"])
    padding = _VariableListAttribute([0, 0], length=2)


class TupleSub(tuple):
    pass


def entry_names(excinfo):
    return [entry.frame.code.raw.co_name for entry in excinfo.traceback]


@pytest.mark.parametrize(
    "value, four, two",
    [
        (10, [10] * 4, [10] * 2),
        (1.5, [1.5] * 4, [1.5] * 2),
        ("10px", ["10px"] * 4, ["10px"] * 2),
        ("50%", ["50%"] * 4, ["50%"] * 2),
        ("10", [None] * 4, [None] * 2),
        ("", [None] * 4, [None] * 2),
        (" 10px", [" 10px"] * 4, [" 10px"] * 2),
        ("10px ", [None] * 4, [None] * 2),
        ("10px 20px", ["10px", "20px", "10px", "20px"], ["10px", "20px"]),
        ([5], [5] * 4, [5] * 2),
        ((1, 2), [1, 2, 1, 2], [1, 2]),
        (TupleSub((1, "2em")), [1, "2em", 1, "2em"], [1, "2em"]),
        (None, None, None),
        ("inherit", "inherit", "inherit"),
    ],
)
def test_expansion(value, four, two):
    owner = Panel()
    assert _testsupport.table_call(Panel.margin, "convert", owner, value) == four
    if value != "inherit":
        assert _testsupport.table_call(Panel.padding, "convert", owner, value) == two


def test_four_values():
    owner = Panel()
    owner.margin = "1px 2px 3px 4px"
    assert owner.margin == ["1px", "2px", "3px", "4px"]
    values = [1, 2.5, "3em", 4]
    owner.margin = values
    assert owner.margin == values and owner.margin is not values
    assert Panel.margin.attrvalue(owner) == "1 2.5 3em 4"


@pytest.mark.parametrize(
    "prop, value, message",
    [
        ("margin", "1px 2px 3px", "Panel.margin must have 1, 2 or 4 components (got ['1px', '2px', '3px'])"),
        ("margin", [], "Panel.margin must have 1, 2 or 4 components (got [])"),
        ("margin", [1, 2, 3], "Panel.margin must have 1, 2 or 4 components (got [1, 2, 3])"),
        ("padding", [1, 2, 3, 4], "Panel.padding must have 1 or 2 components (got [1, 2, 3, 4])"),
        ("padding", (1, 2, 3), "Panel.padding must have 1 or 2 components (got (1, 2, 3))"),
        ("margin", True, "Panel.margin has an invalid format (got True)"),
        ("margin", {}, "Panel.margin has an invalid format (got {})"),
        ("margin", [None], "Panel.margin has an invalid format (got None)"),
        ("margin", [1, {}], "Panel.margin has an invalid format (got {})"),
    ],
)
def test_conversion_errors(prop, value, message):
    owner = Panel()
    before = getattr(owner, prop)
    with pytest.raises(ValueError) as info:
        setattr(owner, prop, value)
    assert str(info.value) == message
    assert getattr(owner, prop) == before


class OneItem(list):
    def __len__(self):
        return 1

    def __getitem__(self, index):
        return "3em"


class Doubled(tuple):
    def __getitem__(self, index):
        return f"{tuple.__getitem__(self, index) * 2}px"


class NoLength(list):
    def __len__(self):
        raise RuntimeError("no length")


@pytest.mark.parametrize(
    "value, expected",
    [
        (OneItem([1, 2]), ["3em"] * 4),
        (Doubled((1, 2)), ["2px", "4px", "2px", "4px"]),
        (Doubled((1, 2, 3, 4)), ["2px", "4px", "6px", "8px"]),
    ],
)
def test_subclasses_are_measured_and_indexed_by_their_own_methods(value, expected):
    panel = Panel()
    panel.margin = value
    assert panel.margin == expected


def test_subclass_length_failure_is_a_conversion_failure():
    with pytest.raises(RuntimeError, match="no length") as info:
        Panel().margin = NoLength([1, 2])
    assert "tavo.core._attributes._VariableListAttribute.convert" in entry_names(info)


def test_failure_inside_the_recursive_conversion_names_each_level():
    with pytest.raises(ValueError) as info:
        Panel().margin = "1px 2px 3px"
    names = entry_names(info)
    assert names.count("tavo.core._attributes._VariableListAttribute.convert") == 2


def test_item_failure_names_convert_numeric():
    with pytest.raises(ValueError) as info:
        _testsupport.table_call(Panel.margin, "convert", Panel(), [b"x"])
    assert entry_names(info)[-2:] == [
        "tavo.core._attributes._VariableListAttribute.convert",
        "tavo.core._attributes._VariableListAttribute._convert_numeric",
    ]


@pytest.mark.parametrize(
    "item, result", [(3, 3), (2.5, 2.5), ("7vh", "7vh"), ("1%", "1%"), ("7", None), ("px", "px"), ("x", None)]
)
def test_convert_numeric_entry(item, result):
    assert _testsupport.table_call(Panel.margin, "_convert_numeric", Panel(), item) == result


def test_replaced_units_take_effect_at_the_next_conversion():
    owner = Panel()
    original = attributes.CSS_LENGTH_UNITS
    try:
        attributes.CSS_LENGTH_UNITS = ("zz",)
        assert _testsupport.table_call(Panel.margin, "convert", owner, "3px") == [None] * 4
        assert _testsupport.table_call(Panel.margin, "convert", owner, "3zz") == ["3zz"] * 4
        del attributes.CSS_LENGTH_UNITS
        with pytest.raises(NameError, match="^name 'CSS_LENGTH_UNITS' is not defined$"):
            _testsupport.table_call(Panel.margin, "convert", owner, "3px")
    finally:
        attributes.CSS_LENGTH_UNITS = original
    assert _testsupport.table_call(Panel.margin, "convert", owner, "3px") == ["3px"] * 4


@pytest.mark.parametrize(
    "value, expected",
    [([10, 20, 10, 20], "10 20 10 20"), ("10", ValueError), (None, ""), ("inherit", "inherit")],
)
def test_rendering(value, expected):
    owner = Panel()
    if expected is ValueError:  # "10" converts to None items: refused, it used to render "None None None None"
        with pytest.raises(ValueError, match="has items that are not lengths"):
            owner.margin = value
        assert Panel.margin.attrvalue(owner) == "0 0 0 0"
    else:
        owner.margin = value
        assert Panel.margin.attrvalue(owner) == expected


def test_none_items_of_a_default_are_stored_and_rendered():
    # A default is stored as it converts, without the check.
    class Owner(EventDispatcher):
        margin = _VariableListAttribute("10")

    owner = Owner()
    assert owner.margin == [None] * 4
    assert Owner.margin.attrvalue(owner) == "None None None None"


NOT_LENGTHS = (
    "has items that are not lengths (got {}): give numbers, texts ending in a CSS unit or %, "
    "or declare the text among the options"
)


@pytest.mark.parametrize(
    "prop, value, converted",
    [
        ("margin", "10", [None] * 4),
        ("margin", "10 20", [None] * 4),
        ("margin", "", [None] * 4),
        ("margin", "10px foo", ["10px", None, "10px", None]),
        ("margin", "10px ", [None] * 4),
        ("margin", "initial", [None] * 4),  # not among the options
        ("margin", ["1px", "2"], ["1px", None, "1px", None]),
        ("margin", (1, 2, 3, "x"), [1, 2, 3, None]),
        ("margin", [math.nan], [math.nan] * 4),
        ("margin", [1, math.inf], [1, math.inf, 1, math.inf]),
        ("margin", -math.inf, [-math.inf] * 4),
        ("padding", "auto", [None] * 2),  # padding has no options
        ("padding", "1em 2", ["1em", None]),
        ("padding", math.nan, [math.nan] * 2),
    ],
)
def test_items_that_are_not_lengths_are_refused(prop, value, converted):
    owner = Panel()
    setattr(owner, prop, "3px")
    calls = []
    owner.bind(**{prop: lambda obj, value: calls.append(value)})
    with pytest.raises(ValueError) as info:
        setattr(owner, prop, value)
    assert str(info.value) == f"Panel.{prop} " + NOT_LENGTHS.format(converted)
    assert getattr(owner, prop) == ["3px"] * len(converted) and calls == []
    assert getattr(Panel, prop).attrvalue(owner) == " ".join(["3px"] * len(converted))


@pytest.mark.parametrize(
    "value, stored, rendered",
    [
        ("auto", "auto", "auto"),
        ("inherit", "inherit", "inherit"),
        (7, [7] * 4, "7 7 7 7"),
        ("1e3px 50%", ["1e3px", "50%"] * 2, "1e3px 50% 1e3px 50%"),
        ([1.5, "2em", 3, "4vh"], [1.5, "2em", 3, "4vh"], "1.5 2em 3 4vh"),
        (1e308, [1e308] * 4, "1e+308 1e+308 1e+308 1e+308"),
    ],
)
def test_lengths_and_options_are_still_accepted(value, stored, rendered):
    owner = Panel()
    calls = []
    owner.bind(margin=lambda obj, value: calls.append(value))
    owner.margin = value
    assert owner.margin == stored and calls == [stored]
    assert Panel.margin.attrvalue(owner) == rendered


def test_rendering_a_numeric_option_fails_cleanly():
    class Owner(EventDispatcher):
        margin = _VariableListAttribute(options=[0])

    owner = Owner()
    owner.margin = 0
    with pytest.raises(TypeError, match="not iterable"):
        Owner.margin.attrvalue(owner)
