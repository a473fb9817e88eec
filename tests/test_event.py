"""tavo.core._event: uids, owners, events, callbacks and observers."""
import ctypes
import gc
import weakref

import pytest

from tavo.core import _event as E
from tavo.core.properties import NumericProperty, StringProperty

_capsule_is_valid = ctypes.pythonapi.PyCapsule_IsValid
_capsule_is_valid.argtypes = [ctypes.py_object, ctypes.c_char_p]


class Widget(E.EventDispatcher):
    size = NumericProperty(1)
    label = StringProperty("x")


def widget_with(*events, client=()):
    widget = Widget()
    for name in events:
        widget.register_event(name)
    for name in client:
        widget.register_event(name, client=True)
    return widget


@pytest.mark.parametrize(
    "name, base, tabled",
    [
        ("ObjectWithUid", object, False),
        ("Observable", E.ObjectWithUid, False),
        ("EventDispatcher", E.Observable, True),
        ("BoundCallback", object, False),
        ("EventObservers", object, True),
    ],
)
def test_classes(name, base, tabled):
    cls = getattr(E, name)
    assert cls.__base__ is base
    assert ("__pyx_vtable__" in cls.__dict__) == tabled
    if tabled:
        assert _capsule_is_valid(cls.__dict__["__pyx_vtable__"], None) == 1
    for hook in ("__reduce__", "__reduce_ex__", "__getstate__"):
        assert getattr(cls, hook) is getattr(object, hook)


def test_uids_are_unique_and_read_only():
    objects = [E.ObjectWithUid(), E.Observable(), Widget(), E.BoundCallback(print)]
    uids = [o.uid for o in objects]
    assert len(set(uids)) == len(uids) and all(isinstance(u, int) and u > 0 for u in uids)
    with pytest.raises(AttributeError):
        objects[0].uid = 5


# ---- owners ----------------------------------------------------------------


def test_init_assigns_the_given_properties():
    widget = Widget(size="3px", label="ok")
    assert (widget.size, widget.label) == (3.0, "ok")
    assert set(widget.property_storage) == {"size", "label"}
    assert widget.property("size") is Widget.size


@pytest.mark.parametrize(
    "make, error, message",
    [
        (lambda: Widget(colour=1), TypeError, r"^Widget\(\) got an unexpected keyword argument 'colour'"),
        (lambda: Widget(1), TypeError, r"^Widget\(\) takes only keyword arguments"),
        (lambda: Widget(size="wide"), ValueError, r"^Widget\.size has an invalid unit text"),
        (lambda: Widget(label=None), ValueError, r"^None is not allowed for Widget\.label$"),
        (lambda: Widget().property("colour"), KeyError, "Widget has no property 'colour'"),
        (lambda: Widget().property(5), KeyError, "Widget has no property 5"),
    ],
)
def test_owner_misuse(make, error, message):
    with pytest.raises(error, match=message):
        make()


def test_subclass_init_may_take_its_own_arguments():
    class Sized(Widget):
        def __init__(self, size, **kwargs):
            super().__init__(size=size * 2, **kwargs)

    assert Sized(2, label="y").size == 4


def test_register_event_keeps_client_events_apart():
    widget = widget_with("on_press", client=["onclick", "onclick", "onblur"])
    widget.register_event("on_press")  # again: keeps the bound callbacks
    assert widget.client_events == ("onclick", "onblur")
    assert widget.dispatch("onclick") is None  # registered: dispatched to nobody yet
    with pytest.raises(KeyError, match="Widget has no event 'onfocus'"):
        widget.dispatch("onfocus")
    with pytest.raises(TypeError):
        widget.register_event(5)
    with pytest.raises(TypeError):
        widget.register_event("x", client=True, extra=1)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((5,), {}, "register_event() argument 1 must be str, not int"),
        (("x",), {"client": True, "extra": 1}, "register_event() got an unexpected keyword argument 'extra'"),
        ((), {}, "register_event() missing required argument 'name' (pos 1)"),
        ((), {"client": True}, "register_event() missing required argument 'name' (pos 1)"),
        (("a", True, 3), {}, "register_event() takes at most 2 arguments (3 given)"),
        (("a",), {"name": "b"}, "argument for register_event() given by name ('name') and position (1)"),
        (("a", False), {"client": True}, "argument for register_event() given by name ('client') and position (2)"),
    ],
)
def test_register_event_refuses_bad_arguments_and_registers_nothing(args, kwargs, message):
    widget = widget_with()
    with pytest.raises(TypeError) as info:
        widget.register_event(*args, **kwargs)
    assert str(info.value) == message
    assert widget.client_events == ()
    for name in ("a", "b", "x"):
        with pytest.raises(KeyError):
            widget.dispatch(name)


@pytest.mark.parametrize("args, kwargs", [(("e", 1), {}), (("e",), {"client": "yes"}), ((), {"name": "e", "client": 1})])
def test_register_event_takes_client_by_truth_positionally_or_by_keyword(args, kwargs):
    widget = widget_with()
    widget.register_event(*args, **kwargs)
    assert widget.client_events == ("e",)


def test_bind_dispatch_unbind_events():
    widget = widget_with("on_press")
    calls = []
    first = lambda *args: calls.append(("first",) + args)  # noqa: E731
    widget.bind(on_press=first)
    widget.bind(on_press=lambda *args: calls.append(("second",) + args))
    with pytest.raises(TypeError):
        widget.dispatch("on_press", 1, key=None)  # events take positional arguments only
    assert calls == []
    widget.dispatch("on_press", 1, 2)
    assert calls == [("first", widget, 1, 2), ("second", widget, 1, 2)]
    widget.unbind(on_press=first)
    calls.clear()
    widget.dispatch("on_press")
    assert calls == [("second", widget)]


@pytest.mark.parametrize("first_use", ["bind", "dispatch", "unbind"])
def test_client_events_bind_dispatch_and_unbind(first_use):
    widget = widget_with(client=["on_click"])
    other = Widget()
    calls = []
    if first_use == "dispatch":
        assert widget.dispatch("on_click", "early") is None
    elif first_use == "unbind":
        widget.unbind(on_click=print)  # nothing bound: nothing to do
    first = lambda w, *args: calls.append(("first", w) + args)  # noqa: E731

    def second(w, *args):
        calls.append(("second", w) + args)
        other.size = 7  # a handler may assign, on another component too

    widget.bind(on_click=first)
    widget.bind(on_click=second)
    assert widget.dispatch("on_click", 1, "x") is None
    assert calls == [("first", widget, 1, "x"), ("second", widget, 1, "x")] and other.size == 7
    widget.unbind(on_click=first)
    calls.clear()
    widget.dispatch("on_click")
    assert calls == [("second", widget)]
    assert widget.client_events == ("on_click",)
    # Another owner of the class has its own handlers.
    assert widget_with(client=["on_click"]).dispatch("on_click") is None and calls == [("second", widget)]


def test_a_callback_returning_true_stops_the_dispatch():
    widget = widget_with("on_press")
    calls = []
    widget.bind(on_press=lambda w: True)
    widget.bind(on_press=calls.append)
    assert widget.dispatch("on_press") is True and calls == []


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda w: w.bind(on_press=5), TypeError, "the callback bound to 'on_press' must be callable, got int"),
        (lambda w: w.bind(print), TypeError, r"bind\(\) takes only keyword arguments"),
        (lambda w: w.unbind(print), TypeError, r"unbind\(\) takes only keyword arguments"),
        (lambda w: w.bind(on_other=print), KeyError, "Widget has no property or event 'on_other'"),
        (lambda w: w.unbind(on_other=print), KeyError, "Widget has no property or event 'on_other'"),
        (lambda w: w.dispatch(), TypeError, "needs an event name"),
        (lambda w: w.dispatch("on_other"), KeyError, "Widget has no event 'on_other'"),
    ],
)
def test_bind_and_dispatch_misuse(call, error, message):
    with pytest.raises(error, match=message):
        call(widget_with("on_press"))


def test_property_observers_are_per_owner():
    a, b = Widget(), Widget()
    calls = []
    a.bind(size=lambda w, v: calls.append((w, v)))
    b.size = 5
    a.size = 6
    assert calls == [(a, 6)]


def test_errors_of_a_callback_propagate():
    widget = widget_with("on_press")

    def fail(w):
        raise LookupError("inside")

    widget.bind(on_press=fail)
    with pytest.raises(LookupError, match="inside"):
        widget.dispatch("on_press")


# ---- callbacks and observers -----------------------------------------------


def test_bound_callback():
    class Sub(E.BoundCallback):
        pass

    callback = Sub(lambda *a, **k: (a, k), 1, 2, sep="-")
    assert type(callback) is Sub
    assert (callback.largs, callback.kwargs) == ((1, 2), {"sep": "-"})
    assert callback(0) == ((0, 1, 2), {"sep": "-"})
    assert callback(0, end="") == ((0, 1, 2), {"sep": "-", "end": ""})
    assert E.BoundCallback(print).kwargs is None
    for bad in ((), (5,)):
        with pytest.raises(TypeError, match="callable"):
            E.BoundCallback(*bad)


def test_event_observers_bind_unbind_dispatch():
    observers = E.EventObservers()
    calls = []

    class Handler:
        def on(self, *args, **kwargs):
            calls.append((args, kwargs))

    handler = Handler()
    bound = observers.bind(handler.on, "extra", flag=True)
    assert isinstance(bound, E.BoundCallback) and bound.func == handler.on
    observers.bind(calls.append)
    assert len(observers) == 2
    assert observers.dispatch("event") is None
    assert calls == [(("event", "extra"), {"flag": True}), "event"]
    assert observers.unbind(handler.on) is True  # an equal bound method
    assert observers.unbind(handler.on) is False
    assert len(observers) == 1


def test_unbinding_during_a_dispatch_finishes_that_dispatch():
    observers = E.EventObservers()
    calls = []

    def first():
        calls.append("first")
        observers.unbind(second)

    def second():
        calls.append("second")

    observers.bind(first)
    observers.bind(second)
    observers.dispatch()
    observers.dispatch()
    assert calls == ["first", "second", "first"]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda o: o.bind(), r"bind\(func, \*largs, \*\*kwargs\) needs a callable"),
        (lambda o: o.bind(5), "a callback must be callable, got int"),
    ],
)
def test_event_observers_misuse(call, message):
    with pytest.raises(TypeError, match=message):
        call(E.EventObservers())


# ---- lifetime --------------------------------------------------------------


@pytest.mark.parametrize("through", ["event", "property", "client"])
def test_owner_cycles_are_collected(through):
    widget = widget_with("on_press", client=["onclick"])
    if through == "event":
        widget.bind(on_press=widget.dispatch)
    elif through == "property":
        widget.bind(size=widget.bind)
    else:
        widget.register_event(str(id(widget)), client=True)
        widget.keep = widget  # a Python subclass has an instance dict
    ref = weakref.ref(widget)
    del widget
    gc.collect()
    assert ref() is None


def test_subclasses_of_every_class_are_collected():
    for cls in (E.ObjectWithUid, E.Observable, E.EventDispatcher, E.EventObservers):
        sub = type("Sub", (cls,), {})
        obj = sub()
        obj.me = obj
        ref = weakref.ref(obj)
        del obj
        gc.collect()
        assert ref() is None, cls


def test_a_cycle_through_a_client_event_name_is_collected():
    # Names that are plain texts are kept where the collector need not look;
    # a str subclass can hold the owner, so its cycle must still be found.
    class Name(str):
        pass

    widget = widget_with(client=["onclick"])
    name = Name("onhover")
    name.owner = widget
    widget.register_event(name, client=True)
    assert widget.client_events == ("onclick", "onhover")
    ref = weakref.ref(widget)
    del widget, name
    gc.collect()
    assert ref() is None
