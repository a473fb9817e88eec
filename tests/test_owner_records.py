"""The records an owner keeps for its properties, made at creation or on first need.

A property whose preparation only stores its converted default gets its record
when it is first read, written or bound; nothing may tell the two apart.
"""
import gc
import weakref

import pytest

from tavo.core import properties as P
from tavo.core._attributes import _Attribute, _BooleanAttribute, _BoundedNumericAttribute, _NumericAttribute
from tavo.core._event import EventDispatcher


def make_owner_class():
    class Owner(EventDispatcher):
        text = _Attribute("x")  # prepares its record (a per-owner option copy)
        width = _NumericAttribute(10, units="px")
        height = P.NumericProperty("2em")  # the conversion records a unit for the owner
        flag = _BooleanAttribute(False)
        items = P.ListProperty([1])
        plain = P.Property(None, allownone=True)

    return Owner


@pytest.mark.parametrize("first_use", ["read", "write", "bind", "storage", "units"])
def test_first_use_of_each_kind_finds_the_prepared_value(first_use):
    Owner = make_owner_class()
    owner = Owner()
    seen = []
    if first_use == "read":
        assert (owner.width, owner.flag, owner.plain, owner.height) == (10, False, None, 2.0)
    elif first_use == "write":
        owner.width = "5pt"
        assert owner.width == 5.0 and Owner.width.get_units(owner) == "pt"
    elif first_use == "bind":
        owner.bind(flag=lambda o, v: seen.append(v))
        owner.flag = True
        assert seen == [True]
    elif first_use == "storage":
        records = owner.property_storage
        assert list(records) == ["text", "width", "height", "flag", "items", "plain"]
        assert all(type(record) is P.PropertyStorage for record in records.values())
        assert [records[name].value for name in ("width", "height", "flag", "plain")] == [10, 2.0, False, None]
    else:
        assert (Owner.height.get_units(owner), Owner.width.get_units(owner)) == ("em", "px")
    assert Owner.text.attrvalue(owner) == "x" and list(owner.items) == [1]
    assert Owner.width.attrvalue(owner) in ("10px", "5.0pt")


def test_the_same_record_is_found_by_every_use():
    Owner = make_owner_class()
    owner = Owner()
    calls = []
    owner.bind(width=lambda o, v: calls.append(v))
    record = owner.property_storage["width"]
    owner.width = 20
    assert record.value == 20 and calls == [20] and record.observers is not None
    assert owner.property_storage["width"] is record


class StorageSubclass(P.PropertyStorage):
    pass


@pytest.mark.parametrize("record_class", [P.PropertyStorage, StorageSubclass])
@pytest.mark.parametrize("how", ["default", "assigned"])
def test_a_value_that_is_a_record_is_kept_as_a_value(record_class, how):
    stored = record_class()
    Owner = type("Owner", (EventDispatcher,), {"p": P.Property(stored if how == "default" else None)})
    owner = Owner()
    if how == "assigned":
        owner.p = stored
    assert owner.p is stored
    assert owner.property_storage["p"] is not stored and owner.property_storage["p"].value is stored


def test_a_changed_class_is_seen_by_the_next_owner():
    Owner = make_owner_class()
    Owner()
    Owner.extra = P.NumericProperty(3)
    Owner.extra.__set_name__(Owner, "extra")
    del Owner.plain

    class Derived(Owner):
        pass

    for cls in (Owner, Derived):
        assert "extra" in cls().property_storage and "plain" not in cls().property_storage
    P_Base = type("Base", (EventDispatcher,), {})
    Child = type("Child", (P_Base,), {})
    Child()
    P_Base.late = P.Property(7)
    P_Base.late.__set_name__(P_Base, "late")
    assert Child().late == 7


def test_a_removed_property_is_not_kept_alive_by_the_owner_class():
    Owner = make_owner_class()
    Owner()
    ref = weakref.ref(Owner.width)
    del Owner.width
    gc.collect()
    assert ref() is None
    assert Owner().flag is False


def test_client_events_and_events_come_with_their_first_registration():
    owner = EventDispatcher()
    assert owner.client_events == ()
    with pytest.raises(KeyError):
        owner.dispatch("on_thing")
    owner.register_event("on_click", client=True)
    owner.register_event("on_thing")
    seen = []
    owner.bind(on_thing=lambda o, *args: seen.append(args))
    owner.dispatch("on_thing", 1)
    assert owner.client_events == ("on_click",) and seen == [(1,)]


def test_many_classes_each_see_their_own_properties():
    classes = [type(f"C{i}", (EventDispatcher,), {f"p{i}": P.Property(i)}) for i in range(300)]
    for _ in range(2):
        for i, cls in enumerate(classes):
            owner = cls()
            assert list(owner.property_storage) == [f"p{i}"] and getattr(owner, f"p{i}") == i


@pytest.mark.parametrize("value", [P.PropertyStorage(), [1, 2], "text", None])
def test_a_write_before_any_record_reads_back_and_shows_in_the_records(value):
    Owner = make_owner_class()
    owner = Owner()
    owner.plain = value
    assert owner.plain is value
    record = owner.property_storage["plain"]
    assert type(record) is P.PropertyStorage and record.value is value
    owner.plain = "after"
    assert owner.property_storage["plain"] is record and record.value == "after"


def test_a_write_before_any_record_that_compares_equal_or_is_refused_changes_nothing():
    Owner = make_owner_class()
    owner = Owner()
    owner.flag = 0  # equal to the default False: the default stays
    assert owner.flag is False
    with pytest.raises(ValueError):
        owner.width = "wide"
    assert owner.width == 10 and Owner.width.get_units(owner) == "px"


def test_an_observer_bound_while_the_first_write_compares_is_called():
    # The comparison runs the new value's __eq__, which makes the record by
    # binding: the value must go into that record and reach the observer.
    calls = []

    class Owner(EventDispatcher):
        value = P.Property(0)

    class BindsWhenCompared:
        def __eq__(self, other):
            owner.bind(value=lambda o, v: calls.append(v))
            return False

    owner = Owner()
    new = BindsWhenCompared()
    owner.value = new
    assert owner.value is new and calls == [new]
    assert owner.property_storage["value"].value is new


@pytest.mark.parametrize("declared", [[], ["a", "b"]])
def test_each_owner_has_its_own_options_list_from_its_creation(declared):
    class Owner(EventDispatcher):
        text = _Attribute("a", options=list(declared))

    owner = Owner()
    Owner.text.options.append("late")  # after the owner's creation: not its option
    if not declared:
        owner.text = "late"  # nothing restricts this owner
    else:
        with pytest.raises(ValueError, match="Owner.text is set to an invalid option 'late'"):
            owner.text = "late"
    record = owner.property_storage["text"]
    options = record.options
    assert type(options) is list and options == declared and options is not Owner.text.options
    assert record.options is options  # the same list at every read
    assert Owner().property_storage["text"].options == declared + ["late"]
    options.append("mine")
    with pytest.raises(ValueError, match="Owner.text is set to an invalid option 'other'"):
        owner.text = "other"
    owner.text = "mine"
    assert owner.text == "mine"


@pytest.mark.parametrize("path", ["kept", "record", "made later", "options", "observer"])
def test_a_cycle_through_a_record_is_collected(path):
    # Records are left to the collector only once they hold something that
    # can reach back; each way a record gets such a thing must track it.
    class Owner(EventDispatcher):
        plain = P.Property(None, allownone=True)
        text = _Attribute("x")

    owner = Owner()
    if path == "kept":
        owner.plain = [owner]
    elif path == "record":
        owner.bind(plain=lambda o, v: None)
        owner.plain = [owner]
    elif path == "made later":
        owner.plain = [owner]
        assert owner.property_storage["plain"].value[0] is owner  # the record made from the kept value
    elif path == "options":
        owner.property_storage["text"].options.append(owner)
    else:
        owner.bind(plain=lambda o, v, keep=owner: None)
    ref = weakref.ref(owner)
    del owner
    gc.collect()
    assert ref() is None


def bounded_attribute(default, **keywords):
    return _BoundedNumericAttribute(default, min=-10, max=100, **keywords)


@pytest.mark.parametrize("make", [P.NumericProperty, P.BoundedNumericProperty, _NumericAttribute, bounded_attribute])
@pytest.mark.parametrize("default, unit", [("5em", "em"), (("7", "vh"), "vh"), ("-3%", "%"), ("12", None)])
@pytest.mark.parametrize("first_use", ["units", "storage", "write"])
def test_a_unit_of_the_default_is_recorded_at_creation(make, default, unit, first_use):
    Sized = type("Sized", (EventDispatcher,), {"n": make(default, units="px")})
    owner = Sized()
    number = float(default[0] if isinstance(default, tuple) else default.rstrip("emvh%"))
    if first_use == "units":
        assert Sized.n.get_units(owner) == (unit or "px")
    elif first_use == "storage":
        assert (owner.property_storage["n"].value, owner.property_storage["n"].units) == (number, unit)
    else:
        calls = []
        owner.bind(n=lambda o, v: calls.append(v))
        owner.n = default  # the same number and unit: no change
        owner.n = number  # a plain number keeps the unit
        assert calls == []
        owner.n = (number, "mm")
        assert calls == [number]
    assert owner.n == number


@pytest.mark.parametrize("make", [P.NumericProperty, _NumericAttribute])
def test_the_root_preparation_stores_the_default_with_its_unit(make):
    from tavo.core import _testsupport

    Sized = type("Sized", (EventDispatcher,), {"n": make("4pt", units="px")})
    owner = Sized()
    record = P.PropertyStorage()
    owner.property_storage["n"] = record  # in the map first, as at an owner's creation
    _testsupport.base_table_call(P.Property, Sized.n, "init_storage", owner, record)
    assert (record.value, record.units) == (4.0, "pt")


@pytest.mark.parametrize("use", ["read", "write", "bind", "units"])
def test_a_storage_subclass_placed_in_the_map_is_a_record(use):
    Owner = type("Owner", (EventDispatcher,), {"p": P.NumericProperty(1, units="px")})
    owner = Owner()
    record = StorageSubclass()
    owner.property_storage["p"] = record
    if use == "read":
        assert owner.p is None  # the record's value, not the record
    elif use == "write":
        owner.p = "5em"
        assert (record.value, record.units, owner.p) == (5.0, "em", 5.0)
    elif use == "bind":
        seen = []
        owner.bind(p=lambda o, v: seen.append(v))
        owner.p = 7
        assert record.observers is not None and seen == [7]
    else:
        owner.p = "5em"
        assert Owner.p.get_units(owner) == "em"
    assert owner.property_storage["p"] is record


def collected(make_cycle):
    """Whether the owner that make_cycle() returns, held only by the cycle it
    closed, is collected."""
    ref = weakref.ref(make_cycle())
    gc.collect()
    return ref() is None


@pytest.mark.parametrize("first_use", ["storage", "bind", "write"])
def test_a_record_made_from_a_kept_default_that_reaches_the_owner_is_collected(first_use):
    # The converted default of a list property is a list tied to its owner.
    Owner = type("Owner", (EventDispatcher,), {"items": P.ListProperty([1]), "plain": P.Property(None)})

    def make_cycle():
        owner = Owner()
        if first_use == "storage":
            assert owner.property_storage["items"].value.owner is owner
        elif first_use == "bind":
            owner.bind(items=print)
        else:
            owner.plain = 1  # another property's record: the list stays kept until read
            assert owner.property_storage["items"].value == [1]
        return owner

    assert collected(make_cycle)


@pytest.mark.parametrize("how", ["flat", "nested", "default"])
def test_a_record_holding_a_tracked_tuple_is_collected(how):
    def make_cycle():
        Owner = type("Owner", (EventDispatcher,), {"plain": P.Property(None, allownone=True), "n": P.Property(0)})
        owner = Owner()
        if how == "flat":
            owner.plain = (owner,)
        elif how == "nested":
            owner.plain = (1, ([owner], "x"))
        else:
            owner.plain = (1, 2)  # an untracked tuple first: the record may stay untracked
            owner.plain = ((owner,),)
        return owner

    assert collected(make_cycle)


@pytest.mark.parametrize("where", ["alone", "in the map", "as a value"])
def test_a_storage_subclass_instance_is_collected(where):
    def make_cycle():
        record = StorageSubclass()
        if where == "alone":
            record.me = record
            return record
        Owner = type("Owner", (EventDispatcher,), {"p": P.Property(None, allownone=True)})
        owner = Owner()
        if where == "in the map":
            owner.property_storage["p"] = record
        else:
            owner.p = record
        record.owner = owner
        return owner

    assert collected(make_cycle)
