"""Process-wide behaviour of the native modules: re-import, second interpreters, deep chains.

Each case runs in a fresh interpreter: a fault here breaks or crashes the whole process.
"""
import json
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.no_leakcheck

INTERPRETER_REFUSAL = (
    "Interpreter change detected - this module can only be loaded into one interpreter per process."
)


def run_python(code, timeout=300):
    """Run code in a fresh interpreter; return the completed process."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=timeout
    )


def reported(result, tag):
    """The JSON value printed on the line `tag <json>` of a subprocess's output."""
    assert result.returncode == 0, result.stdout + result.stderr
    for line in result.stdout.splitlines():
        if line.startswith(tag + " "):
            return json.loads(line[len(tag) + 1:])
    raise AssertionError(f"no {tag} line in {result.stdout!r}")


# ---- re-import -----------------------------------------------------------------

OWNERS = """
import importlib, json, sys
import tavo.core.properties as properties
import tavo.core._event as event
from tavo.core._attributes import _ListAttribute

class Owner(event.EventDispatcher):
    coords = _ListAttribute([1])
    items = properties.ListProperty()

def lists_work(owner_class, observable):
    owner = owner_class()
    owner.coords = [1, 2]
    owner.items = [3]
    return type(owner.coords) is observable and type(owner.items) is observable
"""


@pytest.mark.parametrize(
    "removed",
    [
        ["tavo.core.properties"],
        ["tavo.core._event"],
        ["tavo.core.properties", "tavo.core._event"],
        "all",  # what an in-process reloader does: every module of the package
    ],
)
def test_reimport_hands_back_the_same_modules(removed):
    result = run_python(
        OWNERS
        + f"""
removed = {removed!r}
if removed == "all":
    removed = [name for name in sys.modules if name == "tavo" or name.startswith("tavo.")]
existing = Owner()
first = {{"tavo.core.properties": properties, "tavo.core._event": event}}
for name in removed:
    del sys.modules[name]
again = {{name: importlib.import_module(name) for name in first}}
new_properties = again["tavo.core.properties"]

class Later(again["tavo.core._event"].EventDispatcher):
    coords = _ListAttribute()
    items = new_properties.ListProperty()

existing.coords = [4, 5]
existing.items = [6]
print("FACTS", json.dumps({{
    "same modules": [again[name] is first[name] for name in first],
    "same classes": [getattr(new_properties, name) is getattr(properties, name)
                     for name in ("Property", "ListProperty", "ObservableList", "CSS_LENGTH_UNITS")],
    "existing owner": type(existing.coords) is properties.ObservableList
                      and type(existing.items) is properties.ObservableList,
    "new owner": lists_work(Owner, properties.ObservableList),
    "class declared after": lists_work(Later, properties.ObservableList),
}}))
"""
    )
    assert reported(result, "FACTS") == {
        "same modules": [True, True],
        "same classes": [True, True, True, True],
        "existing owner": True,
        "new owner": True,
        "class declared after": True,
    }


# ---- second interpreters -------------------------------------------------------

# The shared ("legacy") configuration lets the runtime load any extension module
# in the sub-interpreter, so the module's own refusal is what is seen; where it
# cannot be had, the runtime may refuse the module first.
NEW_INTERPRETER = """
if sys.version_info >= (3, 13):
    import _interpreters as interpreters
    shared_config = {"config": "legacy"}
elif sys.version_info >= (3, 12):
    import _xxsubinterpreters as interpreters
    shared_config = {"isolated": False}
else:
    import _xxsubinterpreters as interpreters
    shared_config = {}  # sub-interpreters share the runtime's configuration

def new_interpreter():
    try:
        return interpreters.create(**shared_config), True
    except (TypeError, ValueError):
        return interpreters.create(), False
"""

SUB_IMPORT = """
try:
    import {module}
except ImportError as error:
    print("SUB", json.dumps(["refused", str(error)]), flush=True)
else:
    print("SUB", json.dumps(["loaded", ""]), flush=True)
"""


@pytest.mark.parametrize("module", ["tavo.core.properties", "tavo.core._event"])
def test_second_interpreter_is_refused_and_changes_nothing(module):
    sub_code = "import json\n" + SUB_IMPORT.format(module=module)
    result = run_python(
        OWNERS
        + NEW_INTERPRETER
        + f"""
facts = {{}}
interp, shared = new_interpreter()
try:
    interpreters.run_string(interp, {sub_code!r})
    facts["while alive"] = lists_work(Owner, properties.ObservableList)
finally:
    interpreters.destroy(interp)
facts["after"] = lists_work(Owner, properties.ObservableList)
facts["shared"] = shared
print("FACTS", json.dumps(facts), flush=True)
"""
    )
    facts = reported(result, "FACTS")
    outcome, message = reported(result, "SUB")
    assert outcome == "refused"
    if facts.pop("shared") or sys.version_info < (3, 12):
        assert message == INTERPRETER_REFUSAL
    else:
        assert message in (INTERPRETER_REFUSAL, f"module {module} does not support loading in subinterpreters")
    assert facts == {"while alive": True, "after": True}


# ---- deep chains ---------------------------------------------------------------

PROPERTY_CLASSES = [
    "Property",
    "NumericProperty",
    "BoundedNumericProperty",
    "BooleanProperty",
    "VariableListProperty",
    "ListProperty",
    "StringProperty",
    "DictProperty",
    "ObjectProperty",
    "OptionProperty",
    "ColorProperty",
]
ATTRIBUTE_CLASSES = [
    "_Attribute",
    "_NumericAttribute",
    "_BoundedNumericAttribute",
    "_BooleanAttribute",
    "_LogicalAttribute",
    "_VariableListAttribute",
    "_ListAttribute",
    "_ColorAttribute",
    "_GenericEventAttribute",
]
CHAINS = (
    [("tavo.core.properties", name, False) for name in PROPERTY_CLASSES]
    + [("tavo.core._attributes", name, False) for name in ATTRIBUTE_CLASSES]
    + [("tavo.core._event", "BoundCallback", False)]
    # a Python subclass: the runtime's release of the subclass runs first and
    # calls the native ones below it
    + [("tavo.core._attributes", "_BoundedNumericAttribute", True), ("tavo.core.properties", "Property", True)]
)


@pytest.mark.parametrize("module, name, subclass", CHAINS)
def test_a_chain_of_a_million_links_is_freed(module, name, subclass):
    # Each link holds the only reference to the previous one (as its default
    # value, or as a callback's function); the innermost holds the end marker.
    result = run_python(
        f"""
import importlib, json, weakref
cls = getattr(importlib.import_module({module!r}), {name!r})
if {subclass!r}:
    cls = type("Sub", (cls,), {{}})

class End:
    def __call__(self):
        pass

end = End()
alive = weakref.ref(end)
link = end
del end
for _ in range(10**6):
    link = cls(link)
del link
print("FREED", json.dumps(alive() is None), flush=True)
"""
    )
    assert reported(result, "FREED") is True
