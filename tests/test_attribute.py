"""_Attribute: keywords, page names, validation against per-owner options, rendering."""
import gc
import weakref

import pytest

from tavo.core import _testsupport
from tavo.core._attributes import _Attribute
from tavo.core._event import EventDispatcher


class Button(EventDispatcher):
    kind = _Attribute("a", options=["a", "b"], attrtype="element")
    text = _Attribute()
    font_size = _Attribute(attrtype="style")


class StrSub(str):
    pass


def entry_names(excinfo):
    return [entry.frame.code.raw.co_name for entry in excinfo.traceback]


def test_defaults():
    attr = _Attribute()
    assert (attr.attrtype, attr.sync, attr.options, attr.values) == ("", 0, [], {})
    owner = Button()
    assert owner.text == ""
    assert Button.text.attrvalue(owner) == ""


@pytest.mark.parametrize(
    "keywords, expected",
    [({}, "font-size"), ({"attrname": None}, "font-size"), ({"attrname": "fs"}, "fs")],
)
def test_page_name(keywords, expected):
    class Owner(EventDispatcher):
        font_size = _Attribute(**keywords)

    assert Owner.font_size.attrname == expected


def test_page_name_errors():
    unnamed = _Attribute()
    with pytest.raises(AttributeError, match="^'NoneType' object has no attribute 'replace'$") as info:
        unnamed.attrname
    assert entry_names(info)[-2:] == [
        "tavo.core._attributes._Attribute.attrname.__get__",
        "tavo.core._attributes._resolved_attrname",
    ]

    class Named(_Attribute):
        name = 5

    with pytest.raises(TypeError, match="^Expected str, got int$"):
        Named().attrname


@pytest.mark.parametrize(
    "keywords, error, message",
    [
        ({"attrtype": 1}, TypeError, "Expected str, got int"),
        ({"attrname": StrSub("x")}, TypeError, "Expected str, got StrSub"),
        ({"sync": None}, TypeError, "an integer is required"),
        ({"sync": "1"}, TypeError, "an integer is required"),
        ({"sync": 2**40}, OverflowError, "value too large to convert to int"),
        ({"options": 5}, TypeError, "'int' object is not iterable"),
        ({"options": ["a", "b"], "values": [1]}, AttributeError, "length mismatch between options and values lists"),
    ],
)
def test_constructor_errors(keywords, error, message):
    with pytest.raises(error, match=message) as info:
        _Attribute(**keywords)
    assert "tavo.core._attributes._Attribute.__init__" in entry_names(info)


def test_constructor_argument_parsing():
    with pytest.raises(TypeError, match=r"^__init__\(\) takes at most 1 positional argument \(2 given\)$"):
        _Attribute("a", "b")
    with pytest.raises(TypeError, match="multiple values for keyword argument 'defaultvalue'"):
        _Attribute("a", defaultvalue="b")

    class Owner(EventDispatcher):
        by_keyword = _Attribute(defaultvalue="kw")

    assert Owner().by_keyword == "kw"


@pytest.mark.parametrize("sync, expected", [(True, 1), (False, 0), (2.7, 2), (-3, -3)])
def test_sync_conversion(sync, expected):
    assert _Attribute(sync=sync).sync == expected


def test_options_and_values():
    assert _Attribute(options=["a", "b"]).values == {"a": "a", "b": "b"}
    assert _Attribute(options=["a", "b"], values=[1, 2]).values == {"a": 1, "b": 2}
    assert _Attribute(options="ab").options == ["a", "b"]
    assert _Attribute(options=["a", "a"], values=[1, 2]).values == {"a": 2}
    assert _Attribute(values=[1, 2]).values == {}
    given = ["a"]
    attr = _Attribute(options=given)
    assert attr.options == given and attr.options is not given


def test_reinit_keeps_values_when_options_become_empty():
    attr = _Attribute(options=["a"], values=[1])
    attr.__init__()
    assert attr.options == [] and attr.values == {"a": 1}


def test_allownone_is_forced():
    class Owner(EventDispatcher):
        text = _Attribute(allownone=False)

    owner = Owner()
    owner.text = None
    assert owner.text is None
    assert Owner.text.attrvalue(owner) == ""


def test_check_messages_through_assignment():
    owner = Button()
    owner.kind = "b"
    assert owner.kind == "b"
    with pytest.raises(ValueError) as info:
        owner.kind = "z"
    assert str(info.value) == "Button.kind is set to an invalid option 'z'. Must be one of: ['a', 'b']"
    assert "tavo.core._attributes._Attribute.check" in entry_names(info)
    assert owner.kind == "b"
    with pytest.raises(ValueError, match=r"^Button\.text accept only str$"):
        owner.text = 5
    owner.text = "anything"
    owner.kind = StrSub("a")
    assert owner.kind == "a"


def test_options_are_copied_per_owner():
    class Owner(EventDispatcher):
        mode = _Attribute("a", options=["a"])

    first = Owner()
    Owner.mode.options.append("b")
    second = Owner()
    second.mode = "b"
    with pytest.raises(ValueError, match="invalid option 'b'. Must be one of: \\['a'\\]"):
        first.mode = "b"


def test_rendering_with_values():
    class Owner(EventDispatcher):
        label = _Attribute("x", options=["x", "y"], values=[1, 2])

    owner = Owner()
    assert Owner.label.attrvalue(owner) == 1
    owner.label = "y"
    assert Owner.label.attrvalue(owner) == 2
    Owner.label.values["y"] = "why"
    assert Owner.label.attrvalue(owner) == "why"
    del Owner.label.values["y"]
    with pytest.raises(KeyError) as info:
        Owner.label.attrvalue(owner)
    assert info.value.args == ("y",)
    assert "tavo.core._attributes._Attribute.attrvalue" in entry_names(info)


def test_rendering_without_values_returns_the_value_itself():
    owner = Button()
    owner.text = "hello"
    assert Button.text.attrvalue(owner) == "hello"
    assert Button.text.attrvalue(obj=owner) == "hello"


def test_table_entries():
    owner = Button()
    attr = Button.kind
    assert _testsupport.table_call(attr, "check", owner, None) is True
    assert _testsupport.table_call(attr, "check", owner, "a") is None
    assert _testsupport.table_call(attr, "compare_value", 1, 1.0) is True
    assert _testsupport.table_call(attr, "compare_value", [1], [2]) is False

    class Weird:
        def __eq__(self, other):
            return "weird"

    assert _testsupport.table_call(attr, "compare_value", Weird(), 1) == "weird"
    with pytest.raises(TypeError, match="Cannot convert int to"):
        _testsupport.table_call(attr, "check", 5, "a")


def test_check_without_the_owners_storage_record_is_a_key_error():
    class Owner(EventDispatcher):
        mode = _Attribute("a", options=["a"])

    owner = Owner()
    del owner.property_storage["mode"]
    with pytest.raises(KeyError) as info:
        _testsupport.table_call(Owner.mode, "check", owner, "b")
    assert info.value.args == ("mode",)
    assert "tavo.core._attributes._Attribute.check" in entry_names(info)


def test_option_eq_that_empties_the_options_does_not_crash():
    class Owner(EventDispatcher):
        mode = _Attribute("a", options=["a", "b"])

    owner = Owner()
    storage_options = []

    class Sneaky(str):
        def __eq__(self, other):
            storage_options.clear()
            Owner.mode.options.clear()
            return False

        __hash__ = str.__hash__

    with pytest.raises(ValueError, match="invalid option"):
        owner.mode = Sneaky("c")


def test_reference_cycle_through_options_is_collected():
    attr = _Attribute()
    attr.options.append(attr)
    attr.values["self"] = attr
    ref = weakref.ref(attr)
    del attr
    gc.collect()
    assert ref() is None
