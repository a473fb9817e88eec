"""What a failed or unusual import of tavo.core._attributes leaves behind.

Each case runs in a fresh interpreter: the import of the module happens once
per process, and a fault here is a crash of the whole process.
"""
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.no_leakcheck


def run_python(code):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


def test_classes_left_by_a_failed_import_refuse_cleanly_then_work_after_a_good_import():
    result = run_python(
        """
        import sys, types
        import tavo.core.utils as real_utils
        sys.modules["tavo.core.utils"] = types.ModuleType("tavo.core.utils")  # no get_color_from_hex_255
        try:
            import tavo.core._attributes
        except ImportError as error:
            print("IMPORT", error)
        from tavo.core import properties
        from tavo.core._event import EventDispatcher

        def left_behind(base, name):
            (cls,) = [c for c in base.__subclasses__() if c.__name__ == name]
            return cls

        VariableList = left_behind(properties.VariableListProperty, "_VariableListAttribute")
        List = left_behind(properties.ListProperty, "_ListAttribute")
        Color = left_behind(properties.Property, "_ColorAttribute")

        class Owner(EventDispatcher):
            margin = VariableList([0, 0, 0, 0])
            items = List([])
            color = Color([0, 0, 0])

        cases = [("margin", "10px 20px"), ("items", [1, 2]), ("color", "#ff8000")]

        def assign_all(owner):
            for name, value in cases:
                try:
                    setattr(owner, name, value)
                    print("STORED", name, getattr(Owner, name).attrvalue(owner))
                except NameError as error:
                    print("REFUSED", name, error)

        before = Owner()
        assign_all(before)
        sys.modules["tavo.core.utils"] = real_utils
        import tavo.core._attributes as attributes
        print("SAME", attributes._VariableListAttribute is VariableList, attributes._ColorAttribute is Color)
        assign_all(before)
        assign_all(Owner())
        """
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "IMPORT cannot import name get_color_from_hex_255"
    refused = [line for line in lines if line.startswith("REFUSED")]
    assert len(refused) == 3 and all(line.endswith("is not defined") and "name '" in line for line in refused)
    assert lines[4] == "SAME True True"
    stored = lines[5:]
    assert stored == 2 * [
        "STORED margin 10px 20px 10px 20px",
        "STORED items 1, 2",
        "STORED color 1.0, 0.5019607843137255, 0.0",
    ]


def test_a_released_builtins_module_is_not_read():
    # The module keeps the builtins module it found; replacing and releasing
    # that module afterwards must leave the module's lookups working.
    result = run_python(
        """
        import builtins, gc, sys, types
        stand_in = types.ModuleType("builtins")
        stand_in.__dict__.update(builtins.__dict__)
        sys.modules["builtins"] = stand_in
        import tavo.core._attributes as attributes
        sys.modules["builtins"] = builtins
        attributes.__dict__["__builtins__"] = builtins
        del stand_in
        gc.collect()
        from tavo.core._event import EventDispatcher

        class Owner(EventDispatcher):
            margin = attributes._VariableListAttribute([0, 0, 0, 0])
            items = attributes._ListAttribute([])
            color = attributes._ColorAttribute([0, 0, 0], format="css")

        owner = Owner()
        owner.margin = "1px 2px"
        owner.items = [3, 4]
        owner.color = "#ff8000"
        print(Owner.margin.attrvalue(owner), "|", Owner.items.attrvalue(owner), "|", Owner.color.attrvalue(owner))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "1px 2px 1px 2px | 3, 4 | rgb(255, 128, 0)"


def test_a_class_whose_readying_failed_registers_at_the_next_import():
    result = run_python(
        """
        import sys, types
        import tavo.core.properties as real
        stand_in = types.ModuleType("tavo.core.properties")
        stand_in.__dict__.update(real.__dict__)

        class BooleanProperty(real.BooleanProperty):  # a Python class: a static class cannot derive from it
            pass

        BooleanProperty.__pyx_vtable__ = real.BooleanProperty.__dict__["__pyx_vtable__"]
        stand_in.BooleanProperty = BooleanProperty
        sys.modules["tavo.core.properties"] = stand_in
        try:
            import tavo.core._attributes
        except TypeError as error:
            print("FIRST", error)
        sys.modules["tavo.core.properties"] = real
        import tavo.core._attributes as attributes
        from tavo.core._event import EventDispatcher
        for name in ("_BooleanAttribute", "_LogicalAttribute", "_GenericEventAttribute"):
            cls = getattr(attributes, name)
            print(name, cls.__base__ is real.BooleanProperty, cls.__mro__[1] is real.BooleanProperty)

        class Owner(EventDispatcher):
            disabled = attributes._BooleanAttribute(False)
            draggable = attributes._LogicalAttribute(True)

        owner = Owner()
        owner.disabled = True
        print(Owner.disabled.attrvalue(owner), Owner.draggable.attrvalue(owner))
        """
    )
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0].startswith("FIRST type 'tavo.core._attributes._BooleanAttribute' is not dynamically allocated")
    assert lines[1:4] == [
        "_BooleanAttribute True True",
        "_LogicalAttribute True True",
        "_GenericEventAttribute True True",
    ]
    assert lines[4] == "disabled true"


def test_module_names_are_read_when_no_dict_watcher_is_free():
    result = run_python(
        """
        import sys
        import warnings

        warnings.simplefilter("error")
        from tavo.core import _testsupport

        taken = _testsupport.take_dict_watchers()  # none on 3.11: no watchers there
        assert (taken > 0) == (sys.version_info >= (3, 12)), taken
        from tavo.core import _attributes
        from tavo.core._event import EventDispatcher

        class Box(EventDispatcher):
            margin = _attributes._VariableListAttribute()

        box = Box()
        for units, text, expected in [
            (None, "1px", ["1px"] * 4),
            (("zz",), "2zz", ["2zz"] * 4),
            (("zz",), "1px", ValueError),
            (("px",), "3px", ["3px"] * 4),
        ]:
            if units is not None:
                _attributes.CSS_LENGTH_UNITS = units
            try:
                box.margin = text
            except ValueError:
                assert expected is ValueError, (units, text)
            else:
                assert box.margin == expected, (units, text, box.margin)
        print("ok")
        """
    )
    assert (result.returncode, result.stdout, result.stderr) == (0, "ok\n", "")
