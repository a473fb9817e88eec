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


class StrSub(str):
    pass


class EqualsEverything:
    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


class Calls:
    """An option that records what it is compared with."""

    def __init__(self):
        self.seen = []

    def __eq__(self, other):
        self.seen.append(other)
        return NotImplemented

    __hash__ = object.__hash__


@pytest.mark.parametrize(
    "options, value, stored",
    [
        (["auto", "inherit"], "inherit", "inherit"),  # texts by content
        (["auto", 1], True, True),  # a bool equal to an int option is an option, kept as it is
        ([EqualsEverything()], "10px", "10px"),  # an option's own __eq__ decides
        (["auto"], StrSub("auto"), StrSub("auto")),  # a str subclass is compared by the runtime
        (["auto", None], 5, 5),
        (["5px"], "5px", "5px"),
        (["auto"], "5px", 5.0),
    ],
)
def test_option_membership(options, value, stored):
    from tavo.core._attributes import _NumericAttribute

    class Box(EventDispatcher):
        width = _NumericAttribute(options=options)

    box = Box()
    box.width = value
    assert box.width == stored and type(box.width) is type(stored)


def test_option_comparisons_reach_user_objects_in_list_order():
    from tavo.core._attributes import _ColorAttribute

    first, second = Calls(), Calls()

    class Box(EventDispatcher):
        color = _ColorAttribute(options=["inherit", first, 3, second])

    box = Box()
    box.color = [1, 2, 3]
    assert first.seen == [[1, 2, 3]] and second.seen == [[1, 2, 3]]
    box.color = "inherit"
    assert box.color == "inherit" and len(first.seen) == 1


def test_owner_options_that_are_a_list_subclass_use_its_membership_test():
    class Everything(list):
        def __contains__(self, item):
            return True

    owner = Owner()
    owner.property_storage["label"].options = Everything(["only"])
    owner.label = "anything"
    assert owner.label == "anything"
