"""_ColorAttribute: conversion of lists and colour texts, plain and CSS renderings."""
import pytest

import tavo.core._attributes as attributes
from tavo.core import _testsupport
from tavo.core._attributes import _ColorAttribute
from tavo.core._event import EventDispatcher


class Panel(EventDispatcher):
    color = _ColorAttribute(options=["inherit", [1, 2]])
    css_color = _ColorAttribute([0, 0, 0], format="css")
    upper = _ColorAttribute(format="CSS")


class ListSub(list):
    pass


@pytest.mark.parametrize(
    "value, plain, css",
    [
        ([255, 0, 0], "1.0, 0.0, 0.0", "rgb(255, 0, 0)"),
        ([255, 128, 0, 0.5], "1.0, 0.5019607843137255, 0.0, 0.5", "rgba(255, 128, 0, 0.5)"),
        ((0, 0, 255), "0.0, 0.0, 1.0", "rgb(0, 0, 255)"),
        ("#ff0000", "1.0, 0.0, 0.0", "rgb(255, 0, 0)"),
        (None, "", ""),
    ],
)
def test_renderings(value, plain, css):
    owner = Panel()
    owner.color = value
    owner.css_color = value
    assert Panel.color.attrvalue(owner) == plain
    assert Panel.css_color.attrvalue(owner) == css


def test_format_is_case_sensitive_and_options_render_as_themselves():
    owner = Panel()
    owner.upper = [255, 255, 255]
    assert Panel.upper.attrvalue(owner) == "1.0, 1.0, 1.0"
    owner.color = "inherit"
    assert Panel.color.attrvalue(owner) == "inherit"


@pytest.mark.parametrize(
    "value, stored",
    [((1, 2, 3), [1, 2, 3]), ([1, 2], [1, 2]), ("inherit", "inherit"), ("#0f08", [0, 255, 0, 136 / 255])],
)
def test_conversion(value, stored):
    owner = Panel()
    owner.color = value
    assert owner.color == stored


@pytest.mark.parametrize("text", ["nonsense", "orange", "#zzzzzz", "#12345", ""])
def test_texts_that_are_not_hex_colours_are_refused(text):
    # They used to be stored as None and rendered as nothing.
    owner = Panel()
    owner.color = [1, 2, 3]
    calls = []
    owner.bind(color=lambda obj, value: calls.append(value))
    with pytest.raises(ValueError) as info:
        owner.color = text
    assert str(info.value) == (
        f"not a hex colour text (got {text!r}): give #rgb, #rgba, #rrggbb or #rrggbbaa in hex digits, the # optional"
    )
    names = [e.frame.code.raw.co_name for e in info.traceback]
    assert names[-3:-1] == [
        "tavo.core._attributes._ColorAttribute.convert",
        "tavo.core._attributes._ColorAttribute.parse_str",
    ]
    assert names[-1] == "get_color_from_hex_255"
    assert owner.color == [1, 2, 3] and calls == []
    assert Panel.color.attrvalue(owner) == "0.00392156862745098, 0.00784313725490196, 0.011764705882352941"


@pytest.mark.parametrize(
    "value, message",
    [
        ([1, 2, 3, 4, 5], "Panel.color must have 3 or 4 components (got [1, 2, 3, 4, 5])"),
        ((1,), "Panel.color must have 3 or 4 components (got (1,))"),
        (5, "Panel.color has an invalid format (got 5)"),
        (ListSub([1, 2, 3]), "Panel.color has an invalid format (got [1, 2, 3])"),
    ],
)
def test_conversion_errors(value, message):
    with pytest.raises(ValueError) as info:
        Panel().color = value
    assert str(info.value) == message
    assert info.traceback[-1].frame.code.raw.co_name == "tavo.core._attributes._ColorAttribute.convert"


def test_parse_str_looks_up_the_parser_at_each_call():
    owner = Panel()
    saved = attributes.get_color_from_hex_255
    try:
        attributes.get_color_from_hex_255 = lambda text: (1, 2, 3)
        with pytest.raises(TypeError, match="^Expected list, got tuple$") as info:
            owner.color = "#fff"
        names = [e.frame.code.raw.co_name for e in info.traceback]
        assert names[-2:] == [
            "tavo.core._attributes._ColorAttribute.convert",
            "tavo.core._attributes._ColorAttribute.parse_str",
        ]
        attributes.get_color_from_hex_255 = lambda text: [len(text), 0, 0]
        assert _testsupport.table_call(Panel.color, "parse_str", owner, "abcd") == [4, 0, 0]
        del attributes.get_color_from_hex_255
        with pytest.raises(NameError, match="get_color_from_hex_255"):
            owner.color = "#fff"
    finally:
        attributes.get_color_from_hex_255 = saved


@pytest.mark.parametrize("fmt", ["", "css"])
@pytest.mark.parametrize("stored, error", [([1, 2], IndexError), (7, TypeError)])
def test_rendering_failures(fmt, stored, error):
    class Owner(EventDispatcher):
        color = _ColorAttribute(options=[[1, 2], 7], format=fmt)

    owner = Owner()
    owner.color = stored
    with pytest.raises(error) as info:
        Owner.color.attrvalue(owner)
    assert info.traceback[-1].frame.code.raw.co_name == "tavo.core._attributes._ColorAttribute.attrvalue"


class Indexed(list):
    def __getitem__(self, index):
        return 255 - list.__getitem__(self, index)


@pytest.mark.parametrize(
    "stored, fmt, expected",
    [
        # Five items render the first four.
        ([255, 0, 0, 1, 99], "", "1.0, 0.0, 0.0, 1"),
        ([255, 0, 0, 1, 99], "css", "rgba(255, 0, 0, 1)"),
        # Options are stored as they are: the plain form indexes them, the CSS form iterates them.
        ({0: 255, 1: 128, 2: 0}, "", "1.0, 0.5019607843137255, 0.0"),
        ({0: 255, 1: 128, 2: 0}, "css", "rgb(0, 1, 2)"),
        (Indexed([0, 255, 0]), "", "1.0, 0.0, 1.0"),
    ],
)
def test_stored_options_render(stored, fmt, expected):
    class Owner(EventDispatcher):
        color = _ColorAttribute(options=[stored], format=fmt)

    owner = Owner()
    owner.color = stored
    assert Owner.color.attrvalue(owner) == expected


def test_mapping_without_the_indexes_fails_with_its_key_error():
    class Owner(EventDispatcher):
        color = _ColorAttribute(options=[{"r": 1, "g": 2, "b": 3}])

    owner = Owner()
    owner.color = {"r": 1, "g": 2, "b": 3}
    with pytest.raises(KeyError):
        Owner.color.attrvalue(owner)


def test_component_that_cannot_be_divided():
    owner = Panel()
    owner.color = [1, "a", 2]
    with pytest.raises(TypeError, match="unsupported operand"):
        Panel.color.attrvalue(owner)
    owner.css_color = [1, "a", 2]
    assert Panel.css_color.attrvalue(owner) == "rgb(1, a, 2)"


def test_constructor():
    attr = _ColorAttribute(sync=1)
    assert (attr.sync, attr.attrtype) == (1, "")
    assert not hasattr(attr, "options") and not hasattr(attr, "format")
    with pytest.raises(TypeError, match="^Expected str, got int$"):
        _ColorAttribute(format=1)
    with pytest.raises(TypeError, match=r"takes at most 1 positional argument \(2 given\)"):
        _ColorAttribute(None, None)

    class Owner(EventDispatcher):
        color = _ColorAttribute(options="ab")

    owner = Owner()
    assert owner.color is None
    owner.color = "a"
    assert owner.color == "a"


# ---- order of the plain rendering ---------------------------------------------
#
# Every item is read, and each channel divided by 255, before any is formatted:
# a later item's error wins over the formatting error of an earlier quotient.


class Unprintable(Exception):
    pass


class Quotient:
    """What Channel / 255 gives: its formatting fails, through __format__ or __str__."""

    def __init__(self, how, log=None, index=None):
        self.how, self.log, self.index = how, log, index

    def __format__(self, spec):
        if self.log is not None:
            self.log.append(("format", self.index))
            return f"q{self.index}"
        if self.how == "__format__":
            raise Unprintable("format")
        return object.__format__(self, spec)

    def __str__(self):
        raise Unprintable("str")


class Channel:
    def __init__(self, how="__format__", log=None, index=None):
        self.how, self.log, self.index = how, log, index

    def __truediv__(self, other):
        if self.log is not None:
            self.log.append(("divide", self.index))
        return Quotient(self.how, self.log, self.index)


class Long(list):
    """Claims four items while holding three: item 3 is missing."""

    def __len__(self):
        return 4


class Logged(list):
    def __init__(self, items, log):
        super().__init__(items)
        self.log = log

    def __getitem__(self, index):
        self.log.append(("read", index))
        return list.__getitem__(self, index)


def _render_plain(stored):
    class Owner(EventDispatcher):
        color = _ColorAttribute(options=[stored])

    owner = Owner()
    owner.color = stored
    return Owner.color.attrvalue(owner)


@pytest.mark.parametrize("how", ["__format__", "__str__"])
@pytest.mark.parametrize(
    "make, error, message",
    [
        # a later channel that cannot be divided
        pytest.param(lambda c: [c, "a", 0], TypeError, "unsupported operand type", id="channel-2"),
        pytest.param(lambda c: [0, c, None, 1], TypeError, "unsupported operand type", id="channel-3"),
        # a short list: item 2 is missing
        pytest.param(lambda c: [c, 1], IndexError, "list index out of range", id="short"),
        # a length of four with item 3 missing
        pytest.param(lambda c: Long([c, 0, 0]), IndexError, "list index out of range", id="no-alpha"),
    ],
)
def test_later_item_error_wins_over_formatting(how, make, error, message):
    with pytest.raises(error, match=message) as info:
        _render_plain(make(Channel(how)))
    assert info.traceback[-1].frame.code.raw.co_name == "tavo.core._attributes._ColorAttribute.attrvalue"


@pytest.mark.parametrize("how", ["__format__", "__str__"])
def test_formatting_error_of_a_quotient_is_reported_when_every_item_is_read(how):
    with pytest.raises(Unprintable, match="^format$" if how == "__format__" else "^str$"):
        _render_plain([0, Channel(how), 0, 1])


@pytest.mark.parametrize(
    "count, expected",
    [
        (3, [("read", 0), ("divide", 0), ("read", 1), ("divide", 1), ("read", 2), ("divide", 2),
             ("format", 0), ("format", 1), ("format", 2)]),
        (4, [("read", 0), ("divide", 0), ("read", 1), ("divide", 1), ("read", 2), ("divide", 2),
             ("read", 3), ("format", 0), ("format", 1), ("format", 2), ("format", 3)]),
    ],
)
def test_plain_rendering_reads_and_divides_every_item_before_formatting(count, expected):
    log = []
    alpha = Quotient("", log, 3)  # item 3 is formatted as it is, not divided
    stored = Logged([Channel(log=log, index=i) for i in range(3)] + [alpha][: count - 3], log)
    assert _render_plain(stored) == ", ".join(f"q{i}" for i in range(count))
    assert log == expected
