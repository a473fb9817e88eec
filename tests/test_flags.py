"""_BooleanAttribute and _LogicalAttribute: constructors and renderings."""
import pytest

from tavo.core._attributes import _BooleanAttribute, _LogicalAttribute
from tavo.core._event import EventDispatcher


class Field(EventDispatcher):
    read_only = _BooleanAttribute(False, attrtype="element")
    disabled = _BooleanAttribute(attrname="aria-disabled", allownone=True)
    checked = _LogicalAttribute()


class Raising:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize(
    "value, boolean, logical",
    [
        (True, "read-only", "true"),
        (False, "", "false"),
        (None, "", ""),
        (0, "", "false"),
        ("", "", "false"),
        ([], "", "false"),
        (1, "read-only", "true"),
        ("yes", "read-only", "true"),
        ([0], "read-only", "true"),
    ],
)
def test_renderings(value, boolean, logical):
    owner = Field()
    if value is not None:
        owner.read_only = value
        assert Field.read_only.attrvalue(owner) == boolean
    owner.checked = value
    assert Field.checked.attrvalue(owner) == logical


def test_explicit_page_name_and_none_for_the_boolean():
    owner = Field()
    owner.disabled = True
    assert Field.disabled.attrvalue(owner) == "aria-disabled"
    owner.disabled = None
    assert Field.disabled.attrvalue(owner) == ""


def test_boolean_does_not_force_allownone():
    with pytest.raises(ValueError):
        Field().read_only = None


def test_subclass_attrname_is_honoured():
    class Renamed(_BooleanAttribute):
        @property
        def attrname(self):
            return 42

    class Owner(EventDispatcher):
        flag = Renamed(True)

    assert Owner.flag.attrvalue(Owner()) == 42


@pytest.mark.parametrize("cls", [_BooleanAttribute, _LogicalAttribute])
def test_truth_errors_propagate(cls):
    class Owner(EventDispatcher):
        flag = cls(allownone=True)

    owner = Owner()
    owner.flag = Raising()
    with pytest.raises(ZeroDivisionError) as info:
        Owner.flag.attrvalue(owner)
    names = [entry.frame.code.raw.co_name for entry in info.traceback]
    assert names[-2:] == [f"tavo.core._attributes.{cls.__name__}.attrvalue", "__bool__"]


@pytest.mark.parametrize("cls", [_BooleanAttribute, _LogicalAttribute])
def test_constructor(cls):
    keywords = {"allownone": False, "sync": True, "attrname": None}
    attr = cls(True, **keywords)
    assert keywords == {"allownone": False, "sync": True, "attrname": None}
    assert (attr.sync, attr.attrtype) == (1, "")

    class Owner(EventDispatcher):
        some_flag = attr

    owner = Owner()
    assert owner.some_flag is True
    assert Owner.some_flag.attrname == "some-flag"
    with pytest.raises(TypeError, match="^Expected str, got int$") as info:
        cls(attrtype=1)
    assert info.traceback[-1].frame.code.raw.co_name == f"tavo.core._attributes.{cls.__name__}.__init__"


def test_logical_forces_allownone():
    class Owner(EventDispatcher):
        state = _LogicalAttribute(True, allownone=False)

    owner = Owner()
    owner.state = None
    assert Owner.state.attrvalue(owner) == ""


def test_unnamed_boolean_fails_with_the_name_error():
    attr = _BooleanAttribute(True)
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'replace'"):
        attr.attrname
