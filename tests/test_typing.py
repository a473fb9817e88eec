"""Type information: the stubs match the modules at run time, and code using the classes type-checks.

mypy finds the stubs next to the imported package: through MYPYPATH for a
build tree on PYTHONPATH, through the installed package's py.typed otherwise.
"""
import inspect
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

import tavo
import tavo.core._attributes as attributes
import tavo.demo

pytest.importorskip("mypy", reason="mypy is not installed (pip install '.[test]')")

MODULES = ("tavo.core._attributes", "tavo.core.properties", "tavo.core._event", "tavo.core._render", "tavo.html")
PACKAGE_ROOT = pathlib.Path(os.path.abspath(tavo.__file__)).parent.parent

pytestmark = [
    pytest.mark.no_leakcheck,
    pytest.mark.skipif(
        "libasan" in os.environ.get("LD_PRELOAD", ""),
        reason="type checks do not depend on the sanitizer build; the plain run makes them",
    ),
]


def run_mypy(args, cwd):
    env = dict(os.environ)
    env.pop("MYPYPATH", None)
    if PACKAGE_ROOT.name not in ("site-packages", "dist-packages"):
        env["MYPYPATH"] = str(PACKAGE_ROOT)
    # The package this suite imports, also when PYTHONPATH is relative to the source tree.
    env["PYTHONPATH"] = os.pathsep.join([str(PACKAGE_ROOT), env.get("PYTHONPATH", "")])
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=cwd, env=env
    )


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    return str(tmp_path_factory.mktemp("mypy-cache"))


def test_package_is_marked_typed():
    names = {path.name for path in (PACKAGE_ROOT / "tavo" / "core").iterdir()}
    assert {"_attributes.pyi", "properties.pyi", "_event.pyi", "_render.pyi"} <= names
    assert (PACKAGE_ROOT / "tavo" / "py.typed").is_file()


def test_stubs_match_the_runtime(tmp_path):
    run = run_mypy(["mypy.stubtest", "--concise", *MODULES], tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


def test_demo_type_checks(tmp_path, cache):
    # A copy, so that an installed demo is checked as a user's own program would be.
    source = tmp_path / "demo_program.py"
    source.write_text(pathlib.Path(tavo.demo.__file__).read_text(encoding="utf-8"), encoding="utf-8")
    run = run_mypy(["mypy", "--strict", "--cache-dir", cache, str(source)], tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


# Each marked line must be refused by the stubs: with --strict, an ignore that
# silences nothing is itself an error, so a stub that accepts too much fails.
USAGE = '''
from typing import Any, assert_type

from tavo.core._attributes import (
    _Attribute, _BooleanAttribute, _BoundedNumericAttribute, _ColorAttribute, _GenericEventAttribute,
    _ListAttribute, _LogicalAttribute, _NumericAttribute, _VariableListAttribute,
)
from tavo.core._event import EventDispatcher
from tavo.core.properties import ObservableList
from tavo.html import start_tag


def handler(obj: Any, name: str, *, prevent_default: bool, event_args: Any, event_js: str, dispatch: bool) -> str:
    return name


class Box(EventDispatcher):
    text = _Attribute("a", options=["a", "b"], values=["x", "y"], attrtype="element")
    width = _NumericAttribute(100, units="px", attrtype="style", options=["auto"])
    opacity = _BoundedNumericAttribute(1.0, min=0.0, max=1.0, attrtype="style")
    margin = _VariableListAttribute([0, 0, 0, 0], attrtype="style")
    hidden = _BooleanAttribute(False, attrtype="element")
    open = _LogicalAttribute(None, attrtype="element")
    classes = _ListAttribute(["box"], attrtype="class")
    color = _ColorAttribute([0, 0, 0], attrtype="style", format="css")
    onclick = _GenericEventAttribute(True, handler, prevent_default=True, attrtype="element")


box = Box(width="10px")
box.text = "b"
box.width = "10px"
box.width = (10, "px")
box.opacity = 0.5
box.margin = "10px 20px"
box.hidden = True
box.classes.append("wide")
box.color = "#ff8000"
box.color = (255, 128, 0, 0.5)
assert_type(Box.width, _NumericAttribute)
assert_type(Box().width, float | str | None)
assert_type(Box().text, str | None)
assert_type(box.classes, ObservableList[Any])
assert_type(Box.margin.attrvalue(box), str)
assert_type(Box.text.attrname, str)
assert_type(Box.text.attrtype, str | None)
assert_type(Box.text.sync, int)
assert_type(Box.text.values, dict[Any, Any])
assert_type(Box.onclick.attrvalue(None), Any)
assert_type(box.client_events, tuple[str, ...])
assert_type(start_tag(box, "div"), str)

box.width = object()  # type: ignore[assignment]
box.text = 5  # type: ignore[assignment]
box.color = {"red": 255}  # type: ignore[assignment]
box.classes = "box"  # type: ignore[assignment]
Box.width.attrvalue(5)  # type: ignore[arg-type]
Box.width.attrname = "w"  # type: ignore[misc]
Box.text.sync = 1  # type: ignore[misc]
_ColorAttribute(attrtype=1)  # type: ignore[arg-type]
EventDispatcher(1)  # type: ignore[arg-type]
start_tag(Box.width, "div")  # type: ignore[arg-type]
start_tag(box, tag="div")  # type: ignore[call-arg]
'''


def test_stubs_type_user_code(tmp_path, cache):
    source = tmp_path / "usage.py"
    source.write_text(textwrap.dedent(USAGE), encoding="utf-8")
    run = run_mypy(["mypy", "--strict", "--cache-dir", cache, str(source)], tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr


# Keywords the constructors do not read: at run time they are ignored (or, for
# a default given by keyword where it is positional-only, lost), so the stubs
# must make them errors. Each call is checked on its own line of one program.
REFUSED = [
    ('_GenericEventAttribute(event_js="this.blur();")', 'Unexpected keyword argument "event_js"'),
    ("_GenericEventAttribute(event_handler=handler)", 'Unexpected keyword argument "event_handler"'),
    ("_GenericEventAttribute(event_args={})", 'Unexpected keyword argument "event_args"'),
    ("_GenericEventAttribute(remdispatch=True)", 'Unexpected keyword argument "remdispatch"'),
    ("_GenericEventAttribute(allownone=False)", 'Unexpected keyword argument "allownone"'),
    ('_NumericAttribute(0, unit="px")', 'Unexpected keyword argument "unit"'),
    ("_NumericAttribute(defaultvalue=5)", 'Unexpected keyword argument "defaultvalue"'),
    ("_BoundedNumericAttribute(0, minimum=0)", 'Unexpected keyword argument "minimum"'),
    ('_Attribute("a", option=["a"])', 'Unexpected keyword argument "option"'),
    ('_Attribute("a", allownone=False)', 'Unexpected keyword argument "allownone"'),
    ("_VariableListAttribute([0, 0], lenght=2)", 'Unexpected keyword argument "lenght"'),
    ("_VariableListAttribute(defaultvalue=[1, 2])", 'Unexpected keyword argument "defaultvalue"'),
    ("_BooleanAttribute(False, allow_none=True)", 'Unexpected keyword argument "allow_none"'),
    ("_LogicalAttribute(None, options=[])", 'Unexpected keyword argument "options"'),
    ('_ListAttribute([], attr_type="class")', 'Unexpected keyword argument "attr_type"'),
    ('_ColorAttribute(None, fromat="css")', 'Unexpected keyword argument "fromat"'),
]
CALLS_HEADER = '''
from typing import Any

from tavo.core._attributes import (
    _Attribute, _BooleanAttribute, _BoundedNumericAttribute, _ColorAttribute, _GenericEventAttribute,
    _ListAttribute, _LogicalAttribute, _NumericAttribute, _VariableListAttribute,
)


def handler(obj: Any, name: str, *, prevent_default: bool, event_args: Any, event_js: str, dispatch: bool) -> str:
    return name

'''


def every_shown_keyword():
    """For each class, a call passing every parameter its signature shows, by keyword where it can."""
    for name in attributes.__all__ + ("_LogicalAttribute", "_ListAttribute"):
        positional, keywords = [], []
        for parameter in inspect.signature(getattr(attributes, name)).parameters.values():
            text = repr(parameter.default)
            if parameter.kind is parameter.POSITIONAL_ONLY:
                positional.append(text)
            else:
                keywords.append(f"{parameter.name}={text}")
        yield f"{name}({', '.join(positional + keywords)})"


@pytest.fixture(scope="module")
def checked_calls(tmp_path_factory, cache):
    """mypy's messages for REFUSED and for every_shown_keyword(), by the call they are about."""
    folder = tmp_path_factory.mktemp("calls")
    calls = [call for call, _ in REFUSED] + list(every_shown_keyword())
    header = textwrap.dedent(CALLS_HEADER)
    first = header.count("\n") + 1
    (folder / "calls.py").write_text(header + "\n".join(calls) + "\n", encoding="utf-8")
    run = run_mypy(["mypy", "--strict", "--cache-dir", cache, "calls.py"], folder)
    messages = {call: [] for call in calls}
    for line in run.stdout.splitlines():
        found = re.match(r"calls\.py:(\d+): error: (.*)", line)
        if found:
            index = int(found.group(1)) - first
            assert 0 <= index < len(calls), line
            messages[calls[index]].append(found.group(2))
    return messages


@pytest.mark.parametrize("call, message", REFUSED, ids=[call for call, _ in REFUSED])
def test_stubs_refuse_keywords_the_constructors_do_not_read(checked_calls, call, message):
    assert [text for text in checked_calls[call] if message in text], checked_calls[call]


@pytest.mark.parametrize("call", list(every_shown_keyword()))
def test_stubs_accept_every_parameter_the_signature_shows(checked_calls, call):
    assert checked_calls[call] == []
