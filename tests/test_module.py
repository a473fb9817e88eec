"""Import of tavo.core._attributes: namespace, classes, re-import, failures."""
import copy
import importlib
import pickle
import subprocess
import sys
import textwrap
import warnings

import pytest

import tavo.core._attributes as attributes
from tavo.core import properties
from tavo.core._event import EventDispatcher

ALL = (
    "_Attribute",
    "_NumericAttribute",
    "_BoundedNumericAttribute",
    "_BooleanAttribute",
    "_VariableListAttribute",
    "_ColorAttribute",
    "_GenericEventAttribute",
)
CLASSES = ALL + ("_LogicalAttribute", "_ListAttribute")
BASES = {
    "_Attribute": "Property",
    "_NumericAttribute": "NumericProperty",
    "_BoundedNumericAttribute": "BoundedNumericProperty",
    "_BooleanAttribute": "BooleanProperty",
    "_LogicalAttribute": "BooleanProperty",
    "_VariableListAttribute": "VariableListProperty",
    "_ListAttribute": "ListProperty",
    "_ColorAttribute": "Property",
    "_GenericEventAttribute": "BooleanProperty",
}


def run_python(code):
    """Run code in a fresh interpreter; return the completed process."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


def test_namespace_is_exactly_the_published_names():
    public = {name for name in vars(attributes) if not name.startswith("__") or name in ("__all__", "__test__")}
    assert public == set(CLASSES) | {
        "__all__",
        "__test__",
        "ObservableList",
        "CSS_LENGTH_UNITS",
        "get_color_from_hex_255",
    }
    assert attributes.__all__ == ALL
    assert attributes.__test__ == {}
    assert attributes.__builtins__ is __builtins__ or attributes.__builtins__.__name__ == "builtins"
    assert attributes.ObservableList is properties.ObservableList
    assert attributes.CSS_LENGTH_UNITS is properties.CSS_LENGTH_UNITS
    from tavo.core.utils import get_color_from_hex_255

    assert attributes.get_color_from_hex_255 is get_color_from_hex_255
    assert not hasattr(attributes, "_resolved_attrname")


def test_star_import_binds_the_seven_names():
    namespace = {}
    exec("from tavo.core._attributes import *", namespace)
    assert set(namespace) - {"__builtins__"} == set(ALL)


@pytest.mark.parametrize("name", CLASSES)
def test_class_identity_base_and_module(name):
    cls = getattr(attributes, name)
    assert cls.__name__ == name
    assert cls.__module__ == "tavo.core._attributes"
    assert cls.__base__ is getattr(properties, BASES[name])
    capsule = cls.__dict__["__pyx_vtable__"]
    assert type(capsule).__name__ == "PyCapsule"
    function = cls.__dict__["attrvalue"]
    assert function.__qualname__ == f"{name}.attrvalue"
    assert function.__module__ == "tavo.core._attributes"
    assert function.__name__ == "attrvalue"


@pytest.mark.parametrize("name", CLASSES)
def test_classes_are_immutable_but_subclassable(name):
    cls = getattr(attributes, name)
    with pytest.raises(TypeError, match="immutable"):
        cls.attrvalue = lambda self, obj: "x"
    with pytest.raises(TypeError, match="immutable"):
        del cls.attrvalue

    class Sub(cls):
        def attrvalue(self, obj):
            return "override"

    assert Sub().attrvalue(None) == "override"


@pytest.mark.no_leakcheck
def test_reimport_gives_the_same_module_and_classes():
    again = importlib.import_module("tavo.core._attributes")
    assert again is attributes
    attribute_class = attributes._Attribute
    del sys.modules["tavo.core._attributes"]
    try:
        reloaded = importlib.import_module("tavo.core._attributes")
    finally:
        sys.modules["tavo.core._attributes"] = attributes
    assert reloaded is attributes
    assert reloaded._Attribute is attribute_class


@pytest.mark.parametrize("name", CLASSES)
def test_pickling_is_refused(name):
    attr = getattr(attributes, name)()
    message = "no default __reduce__ due to non-trivial __cinit__"
    for action in (pickle.dumps, copy.copy, copy.deepcopy, lambda a: a.__reduce__()):
        with pytest.raises(TypeError, match=message):
            action(attr)
    with pytest.raises(TypeError, match=message):
        attr.__setstate__({})
    cls = type(attr)
    assert cls.__dict__["__reduce__"].__name__ == "__reduce__"
    assert not any("cython" in key for key in cls.__dict__)


def test_attrvalue_argument_rules():
    attr = attributes._Attribute()
    with pytest.raises(TypeError) as info:
        attr.attrvalue(5)
    assert str(info.value) == (
        "Argument 'obj' has incorrect type (expected tavo.core._event.EventDispatcher, got int)"
    )
    with pytest.raises(TypeError, match=r"takes exactly 1 positional argument \(0 given\)"):
        attr.attrvalue()
    with pytest.raises(TypeError, match=r"takes exactly 1 positional argument \(2 given\)"):
        attr.attrvalue(None, None)
    with pytest.raises(TypeError, match="unexpected keyword argument 'owner'"):
        attr.attrvalue(owner=None)
    with pytest.raises(TypeError, match="multiple values for keyword argument 'obj'"):
        attr.attrvalue(None, obj=None)
    with pytest.raises(TypeError, match="doesn't apply to a 'int' object"):
        attributes._Attribute.attrvalue(5, None)
    with pytest.raises(TypeError, match="needs an argument"):
        attributes._Attribute.attrvalue()


def test_attrvalue_traceback_names_the_operation():
    attr = attributes._NumericAttribute()
    with pytest.raises(TypeError) as info:
        attr.attrvalue(obj=3.5)
    last = info.traceback[-1]
    assert last.frame.code.raw.co_name == "tavo.core._attributes._NumericAttribute.attrvalue"
    assert last.frame.code.raw.co_filename == "tavo/core/_attributes"


def test_attrvalue_binds_like_a_method():
    attr = attributes._Attribute()
    bound = attr.attrvalue
    assert bound.__self__ is attr
    assert bound.__func__ is attributes._Attribute.__dict__["attrvalue"]
    assert attributes._Attribute.attrvalue is attributes._Attribute.__dict__["attrvalue"]


class _Owner(EventDispatcher):
    pass


def test_python_override_is_dispatched_from_native_callers():
    from tavo.core import _testsupport

    calls = []

    class Custom(attributes._Attribute):
        def attrvalue(self, obj):
            calls.append(obj)
            return "custom"

    attr = Custom()
    owner = _Owner()
    assert _testsupport.table_call(attr, "attrvalue", owner, True) == "custom"
    assert calls == [owner]
    # without dispatch the class's own rendering runs
    assert _testsupport.table_call(attr, "attrvalue", None, False) == ""
    # a subclass without an override renders natively, also when remembered
    plain = type("Plain", (attributes._Attribute,), {})()
    for _ in range(3):
        assert _testsupport.table_call(plain, "attrvalue", None, True) == ""
    # an override put on the instance's class later is noticed
    type(plain).attrvalue = lambda self, obj: "late"
    assert _testsupport.table_call(plain, "attrvalue", None, True) == "late"
    assert len(calls) == 1


SUBPROCESS_PRELUDE = """
import sys, types
import tavo.core.properties as real
fake = types.ModuleType("tavo.core.properties")
fake.__dict__.update(real.__dict__)
sys.modules["tavo.core.properties"] = fake
"""


@pytest.mark.no_leakcheck
def test_smaller_sibling_class_fails_the_import():
    result = run_python(
        SUBPROCESS_PRELUDE
        + """
class PropertyStorage:
    pass
fake.PropertyStorage = PropertyStorage
try:
    import tavo.core._attributes
except ValueError as error:
    print("ERR", error)
"""
    )
    assert result.returncode == 0, result.stderr
    assert "ERR tavo.core.properties.PropertyStorage size changed, may indicate binary incompatibility." in (
        result.stdout
    )
    assert "Expected " in result.stdout and "from C header, got " in result.stdout


@pytest.mark.no_leakcheck
def test_larger_sibling_class_only_warns():
    result = run_python(
        SUBPROCESS_PRELUDE
        + """
import warnings
class StringProperty(real.StringProperty):
    __slots__ = ("extra",)
StringProperty.__pyx_vtable__ = real.StringProperty.__dict__["__pyx_vtable__"]
fake.StringProperty = StringProperty
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import tavo.core._attributes
print([str(w.message) for w in caught if w.category is RuntimeWarning])
"""
    )
    assert result.returncode == 0, result.stderr
    assert "tavo.core.properties.StringProperty size changed" in result.stdout


@pytest.mark.no_leakcheck
def test_missing_name_is_taken_from_the_submodule_under_the_modules_own_name():
    result = run_python(
        SUBPROCESS_PRELUDE
        + """
del fake.ObservableList
fake.__name__ = "elsewhere"
sys.modules["tavo.core.properties.ObservableList"] = "not this one"
sys.modules["elsewhere.ObservableList"] = real.ObservableList
import tavo.core._attributes as attributes
print("BOUND", attributes.ObservableList is real.ObservableList)
"""
    )
    assert result.returncode == 0, result.stderr
    assert "BOUND True" in result.stdout


@pytest.mark.no_leakcheck
def test_missing_name_fails_the_import_and_a_retry_runs_again():
    result = run_python(
        SUBPROCESS_PRELUDE
        + """
import traceback
del fake.ObservableList
try:
    import tavo.core._attributes
except ImportError as error:
    print("ERR", error)
    print("ENTRY", [f.name for f in traceback.extract_tb(error.__traceback__)])
print("LOADED", "tavo.core._attributes" in sys.modules)
sys.modules["tavo.core.properties"] = real
import tavo.core._attributes as attributes
print("RETRY", attributes.ObservableList is real.ObservableList, attributes._Attribute().attrvalue(None) == "")
"""
    )
    assert result.returncode == 0, result.stderr
    assert "ERR cannot import name ObservableList" in result.stdout
    assert "'init tavo.core._attributes'" in result.stdout
    assert "LOADED False" in result.stdout
    assert "RETRY True True" in result.stdout


@pytest.mark.no_leakcheck
def test_not_a_type_and_missing_table():
    result = run_python(
        SUBPROCESS_PRELUDE
        + """
fake.DictProperty = 5
try:
    import tavo.core._attributes
except TypeError as error:
    print("ERR1", error)
class ObjectProperty(real.ObjectProperty):
    pass
fake.DictProperty = real.DictProperty
fake.ObjectProperty = ObjectProperty
try:
    import tavo.core._attributes
except KeyError as error:
    print("ERR2", error)
"""
    )
    assert result.returncode == 0, result.stderr
    assert "ERR1 tavo.core.properties.DictProperty is not a type object" in result.stdout
    # a Python subclass publishes no table of its own
    assert "ERR2 '__pyx_vtable__'" in result.stdout


# A sub-interpreter sharing the main one's configuration, in which an
# extension module's own check is reached: the module is _interpreters from
# 3.13 on (a failure is returned, not raised) and _xxsubinterpreters before.
SUBINTERPRETER_PRELUDE = """
import sys
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters

def run_in_subinterpreter(code):
    if sys.version_info >= (3, 13):
        interp = interpreters.create("legacy")
    elif sys.version_info >= (3, 12):
        interp = interpreters.create(isolated=False)
    else:
        interp = interpreters.create()
    try:
        failure = interpreters.run_string(interp, code)
    except interpreters.RunFailedError as error:
        failure = error
    finally:
        interpreters.destroy(interp)
    print("ERR", getattr(failure, "formatted", failure))
"""


@pytest.mark.no_leakcheck
def test_second_interpreter_is_refused():
    result = run_python(
        SUBINTERPRETER_PRELUDE
        + """
import tavo.core._attributes as attributes
run_in_subinterpreter("import tavo.core._attributes")
print("FIRST", attributes._Attribute().attrvalue(None) == "")
"""
    )
    assert result.returncode == 0, result.stderr
    assert "ImportError" in result.stdout
    assert (
        "Interpreter change detected - this module can only be loaded into one interpreter per process."
        in result.stdout
    )
    assert "FIRST True" in result.stdout


@pytest.mark.parametrize(
    "built, running, message",
    [
        ((3, 11), "3.11.7 (main)", None),
        ((3, 13), "3.13.0 (main)", None),
        ((3, 11), "3.12.1 (main)",
         "compile time Python version 3.11 of module 'tavo.core._attributes' does not match runtime version 3.12"),
        ((3, 13), "3.9.18",
         "compile time Python version 3.13 of module 'tavo.core._attributes' does not match runtime version 3.9"),
        ((3, 12), "garbage", "compile time Python version 3.12 of module 'tavo.core._attributes' does not match "
         "runtime version 0.0"),
    ],
)
def test_runtime_version_comparison(built, running, message):
    from tavo.core import _testsupport

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        _testsupport.runtime_version_warning(*built, running)
    assert [str(w.message) for w in caught if w.category is RuntimeWarning] == ([message] if message else [])
    if message:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(RuntimeWarning, match="does not match"):
                _testsupport.runtime_version_warning(*built, running)


@pytest.mark.no_leakcheck
def test_import_on_the_built_version_does_not_warn():
    result = subprocess.run(
        [sys.executable, "-W", "error::RuntimeWarning", "-c", "import tavo.core._attributes"],
        capture_output=True, text=True, timeout=120,
    )
    assert result.returncode == 0, result.stderr


@pytest.mark.parametrize(
    "name, beginning, phrases",
    [
        ("_Attribute", "General Html attribute class with a string value.", []),
        ("_NumericAttribute", "Html attribute class with a numeric value.",
         ["other possible values which are accepted by the attribute instance",
          "valid CSS metric default units: 'px', 'mm', '%', etc. or empty"]),
        ("_BoundedNumericAttribute", "Html attribute class with a bounded numeric value.",
         ["other possible values which are accepted by the attribute instance", "accepted minimum value",
          "accepted maximum value"]),
        ("_VariableListAttribute", "A ListAttribute that allows you to work with a variable number of",
         ["expanded into a length four list [left, top, right, bottom]"]),
        ("_ColorAttribute", "A ListAttribute with 3 or 4 elements with RGB or RGBA color values.", []),
        ("_BooleanAttribute", "Html attribute class with a boolean value.",
         ["Returns `attrname` when the value is true and an empty string when it is false."]),
        ("_LogicalAttribute", "Html attribute class with a logical value.",
         ["Returns 'true' or 'false' as text, and an empty string when the value is None."]),
        ("_ListAttribute", "Html attribute class which returns a comma separated list of values as strings.", []),
        ("_GenericEventAttribute",
         "An event attribute class like `onclick` for the button input element.\n"
         "Event attributes can be activated/deactivated  by setting them to True/False.", []),
    ],
)
def test_class_documentation(name, beginning, phrases):
    doc = getattr(attributes, name).__doc__
    assert doc.startswith(beginning)
    for phrase in phrases:
        assert phrase in doc
