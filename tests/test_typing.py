"""Type information: the stubs match the modules at run time, and code using the classes type-checks.

mypy finds the stubs next to the imported package: through MYPYPATH for a
build tree on PYTHONPATH, through the installed package's py.typed otherwise.
"""
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

import tavo
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
