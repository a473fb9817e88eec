"""_GenericEventAttribute: event registration and handler rendering."""
import gc
import weakref

import pytest

from tavo.core import _testsupport
from tavo.core._attributes import _GenericEventAttribute
from tavo.core._event import EventDispatcher


class Recorder(EventDispatcher):
    """An owner that records its event registrations."""

    def register_event(self, name, client=False):
        self.__dict__.setdefault("registered", []).append((name, client))
        return super().register_event(name, client=client)


def entry_names(excinfo):
    return [entry.frame.code.raw.co_name for entry in excinfo.traceback]


@pytest.mark.parametrize(
    "prop, keywords, event",
    [
        ("onclick", {}, "on_click"),
        ("click_me", {"attrname": "onsubmit"}, "on_submit"),
        ("on", {}, "on_"),
        ("on_change", {}, "on_-change"),
    ],
)
def test_event_registered_at_storage_creation(prop, keywords, event):
    Owner = type("Owner", (Recorder,), {prop: _GenericEventAttribute(**keywords)})
    owner = Owner()
    assert owner.registered == [(event, True)]
    assert getattr(owner, prop) is False


def test_register_event_failure_fails_init_storage_after_the_base_ran():
    class Broken(EventDispatcher):
        onclick = _GenericEventAttribute()

        def register_event(self, name, client=False):
            raise RuntimeError("refused " + name)

    with pytest.raises(RuntimeError, match="refused on_click") as info:
        Broken()
    assert "tavo.core._attributes._GenericEventAttribute.init_storage" in entry_names(info)


HANDLER = "".join(["alert", "(1)"])


class Button(Recorder):
    onclick = _GenericEventAttribute()
    onfocus = _GenericEventAttribute(eventhandler=HANDLER)
    onblur = _GenericEventAttribute(True, eventhandler=5)
    oninput = _GenericEventAttribute(
        False, lambda *args, **kwargs: (args, kwargs), "yes", None, None, 0
    )


def test_without_handler_renders_nothing():
    owner = Button()
    owner.onclick = True
    assert Button.onclick.attrvalue(owner) == ""


def test_text_handler_is_returned_as_is():
    owner = Button()
    assert Button.onfocus.attrvalue(owner) == ""
    owner.onfocus = True
    assert Button.onfocus.attrvalue(owner) is HANDLER


def test_callable_renderer_receives_the_stated_arguments():
    owner = Button()
    owner.oninput = [1]
    args, kwargs = Button.oninput.attrvalue(owner)
    assert args == (owner, "on_input")
    assert list(kwargs.items()) == [
        ("prevent_default", True),
        ("event_args", {}),
        ("event_js", "None"),
        ("dispatch", False),
    ]
    for falsy in (None, 0, False):
        owner.oninput = falsy
        assert Button.oninput.attrvalue(owner) == ""


@pytest.mark.parametrize("result", [None, 42, "code"])
def test_renderer_result_is_returned_unchanged(result):
    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute(True, lambda *a, **k: result)

    assert Owner.onclick.attrvalue(Owner()) is result


def test_renderer_defaults_and_exceptions():
    seen = {}

    def renderer(obj, name, **kwargs):
        seen.update(kwargs, name=name)
        raise KeyError("boom")

    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute(True, renderer)

    with pytest.raises(KeyError) as info:
        Owner.onclick.attrvalue(Owner())
    assert "tavo.core._attributes._GenericEventAttribute.attrvalue" in entry_names(info)
    assert seen == {"name": "on_click", "prevent_default": False, "event_args": {}, "event_js": "", "dispatch": True}


def test_bad_renderer_type():
    owner = Button()
    with pytest.raises(AttributeError) as info:
        Button.onblur.attrvalue(owner)
    assert str(info.value) == "renderer must be of callable type or string, got <class 'int'>"
    owner.onblur = False
    assert Button.onblur.attrvalue(owner) == ""


@pytest.mark.parametrize(
    "keywords, expected",
    [
        ({"eventargs": None}, {}),
        ({"eventargs": []}, {}),
        ({"eventargs": [1]}, [1]),
        ({"eventargs": {"a": 1}}, {"a": 1}),
        ({"eventjs": 5}, "5"),
        ({"prevent_default": "yes"}, True),
        ({"dispatch": 0}, False),
    ],
)
def test_constructor_conversions(keywords, expected):
    seen = {}

    def renderer(obj, name, prevent_default, event_args, event_js, dispatch):
        seen.update(prevent_default=prevent_default, eventargs=event_args, eventjs=event_js, dispatch=dispatch)

    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute(True, renderer, **keywords)

    Owner.onclick.attrvalue(Owner())
    key = next(iter(keywords))
    assert seen[key] == expected


def test_constructor_argument_errors():
    with pytest.raises(TypeError, match=r"^__init__\(\) takes at most 6 positional arguments \(7 given\)$"):
        _GenericEventAttribute(1, 2, 3, 4, 5, 6, 7)
    with pytest.raises(TypeError, match="multiple values for keyword argument 'eventhandler'"):
        _GenericEventAttribute(False, None, eventhandler=None)
    with pytest.raises(TypeError, match="^Expected str, got int$") as info:
        _GenericEventAttribute(attrtype=1)
    assert "tavo.core._attributes._GenericEventAttribute.__init__" in entry_names(info)


def test_allownone_is_forced_and_the_callers_keywords_untouched():
    keywords = {"allownone": False}

    class Owner(EventDispatcher):
        onclick = _GenericEventAttribute(**keywords)

    owner = Owner()
    owner.onclick = None
    assert Owner.onclick.attrvalue(owner) == ""
    assert keywords == {"allownone": False}


@pytest.mark.parametrize("page_name, event", [("onfocus", "on_focus"), ("x", "on_")])
def test_a_subclass_page_name_decides_the_event(page_name, event):
    # Instances of the class itself read their fields; a subclass's attrname wins.
    Named = type("Named", (_GenericEventAttribute,), {"attrname": page_name})
    Owner = type("Owner", (Recorder,), {"onclick": Named(attrname="onblur")})
    assert Owner().registered == [(event, True)]


def test_unsliceable_page_name():
    class Odd(_GenericEventAttribute):
        attrname = 12

    class Owner(EventDispatcher):
        onclick = Odd()

    with pytest.raises(TypeError, match="^'int' object is unsliceable$"):
        Owner()


def test_cycles_through_handler_and_eventargs_are_collected():
    args = {}
    attr = _GenericEventAttribute(True, lambda *a, **k: args, eventargs=args)
    args["attr"] = attr
    ref = weakref.ref(attr)
    del attr, args
    gc.collect()
    assert ref() is None


def test_init_storage_with_a_wrong_record_is_refused():
    owner = Button()
    with pytest.raises(TypeError):
        _testsupport.table_call(Button.onclick, "init_storage", owner, {})


def test_the_client_event_of_an_event_attribute_binds_and_dispatches():
    class Card(EventDispatcher):
        onclick = _GenericEventAttribute(True, "go()")

    card, other = Card(), Card()
    seen = []
    card.bind(on_click=lambda owner, *args: seen.append((owner, args)))
    card.dispatch("on_click", "x")
    other.dispatch("on_click")  # registered on every owner, handlers per owner
    assert seen == [(card, ("x",))]
    assert card.client_events == other.client_events == ("on_click",)
    with pytest.raises(KeyError, match="Card has no event 'on_submit'"):
        card.dispatch("on_submit")
