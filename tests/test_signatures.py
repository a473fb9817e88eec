"""Constructor signatures: what inspect and help() show, and that each parameter shown is read.

The signature comes from the first line of each class's internal documentation;
the runtime strips it from ``__doc__``. stubtest (tests/test_typing.py) holds the
stubs to the same signatures, so a parameter shown here is one mypy accepts.
"""
import inspect
import pathlib
import pydoc
import re

import pytest

import tavo.core._attributes as attributes
from tavo.core._event import EventDispatcher

SIGNATURES = {
    "_Attribute": "(defaultvalue='', *, attrtype='', attrname='', sync=0, options=[], values=[])",
    "_NumericAttribute": "(defaultvalue=0, /, *, units='', attrtype='', attrname='', sync=0, options=[])",
    "_BoundedNumericAttribute":
        "(defaultvalue=0, /, *, min=None, max=None, units='', attrtype='', attrname='', sync=0, options=[])",
    "_VariableListAttribute":
        "(defaultvalue=[0, 0, 0, 0], /, *, length=4, attrtype='', attrname='', sync=0, options=[])",
    "_BooleanAttribute": "(defaultvalue=False, /, *, attrtype='', attrname='', sync=0, allownone=False)",
    "_LogicalAttribute": "(defaultvalue=False, /, *, attrtype='', attrname='', sync=0)",
    "_ListAttribute": "(defaultvalue=[], /, *, length=None, attrtype='', attrname='', sync=0, allownone=False)",
    "_ColorAttribute": "(defaultvalue=None, *, attrtype='', attrname='', format='', sync=0, options=[])",
    "_GenericEventAttribute": "(defaultvalue=False, eventhandler=None, prevent_default=False, eventargs=None, "
                              "eventjs='', dispatch=True, *, attrtype='', attrname='', sync=0)",
}


# inspect parses a signature line anew on each call and warms its own caches
# over thousands of calls, so the leak run would take that for a leak: the
# tests that call it run once there (the line itself is read without growth).
@pytest.mark.no_leakcheck
@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_inspect_shows_the_constructor_parameters(name, signature):
    cls = getattr(attributes, name)
    assert str(inspect.signature(cls)) == signature
    # The signature line is not part of the documentation text.
    assert "--" not in cls.__doc__.splitlines()[:2]
    assert not cls.__doc__.startswith(name + "(")


@pytest.mark.no_leakcheck
@pytest.mark.parametrize("name", SIGNATURES)
def test_help_shows_the_signature_then_the_documentation(name):
    cls = getattr(attributes, name)
    text = pydoc.render_doc(cls, renderer=pydoc.plaintext)
    # From 3.13 on, help() puts a long signature one parameter a line.
    squeezed = re.sub(r"[\s|]", "", text)
    signature_at = squeezed.index(re.sub(r"\s", "", name + SIGNATURES[name]))
    assert squeezed.index(re.sub(r"\s", "", cls.__doc__.splitlines()[0])) > signature_at


# Each parameter a signature shows must change something the caller can see.
# A probe gives the value to pass, the other arguments it needs, and what to
# look at on the attribute and an owner; a parameter without a probe fails.
def owner_of(attr):
    return type("Owner", (EventDispatcher,), {"prop": attr})()


def outcome(owner, value):
    """What an assignment left: the stored value, or "refused"."""
    try:
        owner.prop = value
    except (ValueError, TypeError):
        return "refused"
    return owner.prop


def recorder(obj, name, **keywords):
    return keywords


def rendered(attr, owner):
    return attr.attrvalue(owner)


RENDERER = {"defaultvalue": True, "eventhandler": recorder}
PROBES = {
    "attrtype": ("style", {}, lambda attr, owner: attr.attrtype),
    "attrname": ("data-x", {}, lambda attr, owner: attr.attrname),
    "sync": (1, {}, lambda attr, owner: attr.sync),
    "options": (["inherit"], {}, lambda attr, owner: (outcome(owner, "inherit"), outcome(owner, "zz"))),
    "values": (["x"], {"options": ["a"]}, lambda attr, owner: (outcome(owner, "a"), rendered(attr, owner))),
    "units": ("px", {}, rendered),
    "min": (0, {}, lambda attr, owner: outcome(owner, -1)),
    "max": (0, {}, lambda attr, owner: outcome(owner, 1)),
    "allownone": (True, {}, lambda attr, owner: outcome(owner, None)),
    "format": ("css", {"defaultvalue": [255, 0, 0]}, rendered),
    "eventhandler": ("code()", {"defaultvalue": True}, rendered),
    "prevent_default": (True, RENDERER, rendered),
    "eventargs": ({"a": 1}, RENDERER, rendered),
    "eventjs": ("go()", RENDERER, rendered),
    "dispatch": (False, RENDERER, rendered),
}
# Per class: the same keyword means different things, and each takes its own default values.
LENGTH_PROBES = {
    "_VariableListAttribute": (2, {}, lambda attr, owner: owner.prop),
    "_ListAttribute": (2, {}, lambda attr, owner: outcome(owner, [1])),
}
DEFAULTS = {
    "_Attribute": "a",
    "_NumericAttribute": 5,
    "_BoundedNumericAttribute": 5,
    "_VariableListAttribute": [1, 2, 3, 4],
    "_BooleanAttribute": True,
    "_LogicalAttribute": True,
    "_ListAttribute": [1],
    "_ColorAttribute": [1, 2, 3],
    "_GenericEventAttribute": True,
}


def probe(name, parameter):
    if parameter == "defaultvalue":
        return DEFAULTS[name], {}, lambda attr, owner: attr.defaultvalue
    if parameter == "length":
        return LENGTH_PROBES[name]
    return PROBES[parameter]


PARAMETERS = {name: inspect.signature(getattr(attributes, name)).parameters for name in SIGNATURES}
POSITIONAL_ONLY = {
    name for name, parameters in PARAMETERS.items()
    if parameters["defaultvalue"].kind is inspect.Parameter.POSITIONAL_ONLY
}
SHOWN = [(name, parameter) for name, parameters in PARAMETERS.items() for parameter in parameters]


@pytest.mark.parametrize("name, parameter", SHOWN)
def test_every_parameter_shown_is_read(name, parameter):
    cls = getattr(attributes, name)
    value, others, look = probe(name, parameter)

    def look_at(given):
        keywords = dict(others, **given)
        args = (keywords.pop("defaultvalue"),) if "defaultvalue" in keywords and name in POSITIONAL_ONLY else ()
        attr = cls(*args, **keywords)
        return look(attr, owner_of(attr))

    without = look_at({})
    given = look_at({parameter: value})
    assert given != without, f"{name}({parameter}={value!r}) changed nothing"


@pytest.mark.parametrize("name", sorted(POSITIONAL_ONLY))
def test_a_positional_only_default_is_not_read_by_keyword(name):
    # Why the signature marks it positional-only: the base reads the first
    # positional argument and no keyword, so a default given by keyword is lost.
    cls = getattr(attributes, name)
    assert cls(defaultvalue=DEFAULTS[name]).defaultvalue == cls().defaultvalue != DEFAULTS[name]


README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
def test_readme_reference_gives_each_signature():
    shown = dict(re.findall(r"^`(_\w+)(\(.*\))`\.$", README.read_text(encoding="utf-8"), re.M))
    assert shown == SIGNATURES
