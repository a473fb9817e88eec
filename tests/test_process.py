"""Process-wide behaviour of the native modules: deep chains.

Each case runs in a fresh interpreter: a fault here breaks or crashes the whole process.
"""
import json
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.no_leakcheck


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
