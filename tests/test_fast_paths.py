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
