"""The fields every attribute class shares: the page name and the sync flag."""
import pytest

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


def declare(name, attr):
    """A component class with `attr` declared under `name`, and one component."""
    owner_class = type("Panel", (EventDispatcher,), {name: attr})
    return owner_class, owner_class()


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
@pytest.mark.parametrize(
    "name, page_name",
    [
        ("font_size_adjust", "font-size-adjust"),
        ("_private_name_", "-private-name-"),
        ("a__b", "a--b"),
        ("width", "width"),
    ],
)
def test_every_underscore_of_the_name_becomes_a_dash(cls, name, page_name):
    owner_class, _ = declare(name, cls())
    assert getattr(owner_class, name).attrname == page_name


def test_a_boolean_attribute_renders_its_page_name():
    owner_class, owner = declare("aria_read_only", _BooleanAttribute(False))
    owner.aria_read_only = True
    assert owner_class.aria_read_only.attrvalue(owner) == "aria-read-only"


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
@pytest.mark.parametrize("sync", [2**31 - 1, -(2**31)])
def test_sync_holds_the_32_bit_bounds(cls, sync):
    owner_class, _ = declare("flag", cls(sync=sync))
    assert owner_class.flag.sync == sync


@pytest.mark.parametrize("cls", CLASSES, ids=lambda cls: cls.__name__)
@pytest.mark.parametrize("sync", [2**31, -(2**31) - 1])
def test_sync_beyond_the_32_bit_bounds_is_refused(cls, sync):
    with pytest.raises(OverflowError, match="^value too large to convert to int$") as info:
        cls(sync=sync)
    assert info.traceback[-1].frame.code.raw.co_name == f"tavo.core._attributes.{cls.__name__}.__init__"
