"""The attribute classes written in plain Python on the same property system.

Each peer is what a user would write without the native module: a Python
subclass of a property class that does the attribute's conversion and
validation in ``__set__`` before handing the value to the property, and
renders in a Python ``attrvalue``. For the values the benchmarks use (and the
ones tests/test_bench_peers.py tries) they store and render exactly what the
native classes do; the benchmark checks that before timing anything.

Where the native class's base would refuse a value the attribute stores (the
option texts of the numeric classes), the peer keeps its value on the root
``Property`` and does the unit parsing and the bounds test itself.
"""
import math
import struct

from tavo.core.properties import (
    CSS_LENGTH_UNITS,
    BooleanProperty,
    ListProperty,
    ObservableList,
    Property,
    VariableListProperty,
)
from tavo.core.utils import get_color_from_hex_255

__all__ = [
    "PyAttribute",
    "PyNumericAttribute",
    "PyBoundedNumericAttribute",
    "PyVariableListAttribute",
    "PyBooleanAttribute",
    "PyLogicalAttribute",
    "PyListAttribute",
    "PyColorAttribute",
    "PyGenericEventAttribute",
]

_SINGLE = struct.Struct("f")


def _where(obj, prop):
    return f"{type(obj).__name__}.{prop.name}"


def _text_keyword(value):
    if value is not None and type(value) is not str:
        raise TypeError(f"Expected str, got {type(value).__name__}")
    return value


class _PageName:
    """attrname: the explicit page name, else the property name with dashes."""

    __slots__ = ()

    def __get__(self, prop, owner=None):
        if prop is None:
            return self
        return prop._attrname or prop.name.replace("_", "-")


def _attribute_fields(prop, attrtype, sync, attrname):
    prop.attrtype = _text_keyword(attrtype)
    prop.sync = int(sync)
    prop._attrname = _text_keyword(attrname)


class PyAttribute(Property):
    attrname = _PageName()

    def __init__(self, defaultvalue="", attrtype="", sync=0, options=(), values=(), attrname="", **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.options = list(options)
        if self.options:
            values = list(values) or list(self.options)
            if len(values) != len(self.options):
                raise AttributeError("length mismatch between options and values lists")
            self.values = dict(zip(self.options, values))
        else:
            self.values = {}
        super().__init__(defaultvalue, allownone=True, **kw)

    def __set__(self, obj, value):
        if value is not None:
            if not isinstance(value, str):
                raise ValueError(f"{_where(obj, self)} accept only str")
            if self.options and value not in self.options:
                raise ValueError(
                    f"{_where(obj, self)} is set to an invalid option {value!r}. Must be one of: {self.options}"
                )
        super().__set__(obj, value)

    def attrvalue(self, obj):
        value = self.get(obj)
        if value is None:
            return ""
        if self.values:
            return self.values[value]
        return value


class _NumberWithUnit(Property):
    """Numbers, unit texts and (number, unit) pairs; the unit kept per owner."""

    attrname = _PageName()

    def __init__(self, defaultvalue=0, *, units="", attrtype="", sync=0, options=(), attrname="", **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.options = list(options)
        if units and units != "%" and units not in CSS_LENGTH_UNITS:
            raise ValueError(
                f"{type(self).__name__} units is not a known unit (got {units!r}): give one of CSS_LENGTH_UNITS "
                f"{CSS_LENGTH_UNITS!r}, '%' or ''"
            )
        self.units = units
        self._unit_key = f"_{type(self).__name__}_{id(self)}_unit"
        super().__init__(defaultvalue, allownone=True, **kw)

    def _record(self, obj, unit, number, given):
        if not math.isfinite(number):
            raise ValueError(f"{_where(obj, self)} accept only finite numbers (got {given!r})")
        if abs(number) > 3.4028234663852886e38:
            raise ValueError(f"{_where(obj, self)} has a number out of range (got {given!r})")
        obj.__dict__[self._unit_key] = unit
        return _SINGLE.unpack(_SINGLE.pack(number))[0]

    def _parse_text(self, obj, text):
        if text.endswith("%"):
            unit = "%"
        elif text[-2:] in CSS_LENGTH_UNITS:
            unit = text[-2:]
        else:
            unit = None
        try:
            number = float(text[: -len(unit)] if unit else text)
        except ValueError:
            raise ValueError(f"{_where(obj, self)} has an invalid unit text (got {text!r})") from None
        return self._record(obj, unit, number, text)

    def _parse_pair(self, obj, number, unit):
        if not (isinstance(unit, str) and (unit == "%" or unit in CSS_LENGTH_UNITS)):
            raise ValueError(f"{_where(obj, self)} has an invalid unit (got {unit!r})")
        try:
            value = float(number) if isinstance(number, (int, float, str)) and not isinstance(number, bool) else None
        except (ValueError, OverflowError):
            value = None
        if value is None:
            raise ValueError(f"{_where(obj, self)} has an invalid number (got {number!r})")
        return self._record(obj, unit, value, number)

    def _convert_number(self, obj, value):
        kind = type(value)
        if kind is int or kind is float:
            return value
        if kind is list or kind is tuple:
            if len(value) != 2:
                raise ValueError(f"{_where(obj, self)} must have 2 components (got {value!r})")
            return self._parse_pair(obj, value[0], value[1])
        if isinstance(value, str):
            return self._parse_text(obj, value)
        raise ValueError(f"{_where(obj, self)} has an invalid format (got {value!r})")

    def get_units(self, obj):
        return obj.__dict__.get(self._unit_key) or self.units

    def attrvalue(self, obj):
        value = self.get(obj)
        if value is None:
            return ""
        if isinstance(value, str):
            return value
        units = self.get_units(obj)
        return f"{value}{units}" if units else f"{value}"


def _refuse_non_finite(obj, prop, value):
    if type(value) is float and not math.isfinite(value):
        raise ValueError(f"{_where(obj, prop)} accept only finite numbers (got {value!r})")


class PyNumericAttribute(_NumberWithUnit):
    def __set__(self, obj, value):
        if value is not None and value not in self.options:
            value = self._convert_number(obj, value)
        _refuse_non_finite(obj, self, value)
        super().__set__(obj, value)


class PyBoundedNumericAttribute(_NumberWithUnit):
    def __init__(self, defaultvalue=0, *, min=None, max=None, **kw):
        self.min = min
        self.max = max
        super().__init__(defaultvalue, **kw)

    def _convert_number(self, obj, value):
        # BoundedNumericProperty's rules: any list or tuple of two is a pair.
        if isinstance(value, (list, tuple)):
            if len(value) != 2:
                raise ValueError(f"{_where(obj, self)} has an invalid format (got {value!r})")
            return self._parse_pair(obj, value[0], value[1])
        return super()._convert_number(obj, value)

    def __set__(self, obj, value):
        if value is not None and value not in self.options:
            value = self._convert_number(obj, value)
        kind = type(value)
        if kind is int or kind is float:
            _refuse_non_finite(obj, self, value)
            if self.min is not None and value < self.min:
                raise ValueError(f"{_where(obj, self)} is below the minimum bound ({self.min!r})")
            if self.max is not None and value > self.max:
                raise ValueError(f"{_where(obj, self)} is above the maximum bound ({self.max!r})")
        elif value not in self.options:
            raise ValueError(
                f"{_where(obj, self)} accept only int/float/str and is set to an invalid option {value!r}. "
                f"Must be one of: {self.options}"
            )
        super().__set__(obj, value)


class PyVariableListAttribute(VariableListProperty):
    attrname = _PageName()

    def __init__(self, defaultvalue=None, *, attrtype="", sync=0, options=(), attrname="", **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.options = list(options)
        super().__init__(defaultvalue, allownone=True, **kw)

    def _convert_numeric(self, obj, item):
        kind = type(item)
        if kind is int or kind is float:
            return item
        if isinstance(item, str):
            return item if item[-2:] in CSS_LENGTH_UNITS or item[-1:] == "%" else None
        raise ValueError(f"{_where(obj, self)} has an invalid format (got {item!r})")

    def _convert(self, obj, value):
        if value is None or value in self.options:
            return value
        length = self.length
        if isinstance(value, (list, tuple)):
            count = len(value)
            if count not in (1, 2, 4) or (count == 4 and length != 4):
                allowed = "1, 2 or 4" if length == 4 and count != 4 else "1 or 2"
                raise ValueError(f"{_where(obj, self)} must have {allowed} components (got {value!r})")
            items = [self._convert_numeric(obj, item) for item in value]
            return items if count == 4 else items * (length // count)
        kind = type(value)
        if kind is not int and kind is not float and not isinstance(value, str):
            raise ValueError(f"{_where(obj, self)} has an invalid format (got {value!r})")
        if kind is not int and kind is not float:
            parts = value.split()
            if len(parts) >= 2:
                return self._convert(obj, parts)
        return [self._convert_numeric(obj, value)] * length

    def __set__(self, obj, value):
        super().__set__(obj, self._convert(obj, value))

    def attrvalue(self, obj):
        value = self.get(obj)
        if value is None:
            return ""
        if isinstance(value, str):
            return value
        return " ".join(map(str, value))


class _Flag(BooleanProperty):
    attrname = _PageName()

    def __init__(self, defaultvalue=False, *, attrtype="", sync=0, attrname="", **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        super().__init__(defaultvalue, **kw)


class PyBooleanAttribute(_Flag):
    def attrvalue(self, obj):
        return self.attrname if self.get(obj) else ""


class PyLogicalAttribute(_Flag):
    def __init__(self, defaultvalue=False, **kw):
        kw["allownone"] = True
        super().__init__(defaultvalue, **kw)

    def attrvalue(self, obj):
        value = self.get(obj)
        if value is None:
            return ""
        return "true" if value else "false"


class PyListAttribute(ListProperty):
    attrname = _PageName()

    def __init__(self, defaultvalue=None, *, attrtype="", sync=0, attrname="", length=None, **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.length = length
        super().__init__([] if defaultvalue is None else defaultvalue, **kw)

    def __set__(self, obj, value):
        if type(value) is list or type(value) is tuple:
            value = ObservableList(value, owner=obj, prop=self)
        if value is not None:  # None: the property's own rule
            if self.length is not None and len(value) != self.length:
                raise ValueError(f"Length of input array is wrong, must be {self.length}")
            if type(value) is not ObservableList:
                raise ValueError(f"{_where(obj, self)} accept only ObservableList")
        super().__set__(obj, value)

    def attrvalue(self, obj):
        value = self.get(obj)
        if not value:
            return ""
        return ", ".join(map(str, value))


class PyColorAttribute(Property):
    attrname = _PageName()

    def __init__(self, defaultvalue=None, *, attrtype="", sync=0, attrname="", format="", options=(), **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.format = _text_keyword(format)
        self.options = list(options)
        super().__init__(defaultvalue, allownone=True, **kw)

    def __set__(self, obj, value):
        if value is not None and value not in self.options:
            kind = type(value)
            if kind is list or kind is tuple:
                if len(value) not in (3, 4):
                    raise ValueError(f"{_where(obj, self)} must have 3 or 4 components (got {value!r})")
                value = list(value)
            elif isinstance(value, str):
                value = get_color_from_hex_255(value)
            else:
                raise ValueError(f"{_where(obj, self)} has an invalid format (got {value!r})")
        super().__set__(obj, value)

    def attrvalue(self, obj):
        value = self.get(obj)
        if value is None:
            return ""
        if isinstance(value, str):
            return value
        css = self.format == "css"
        if len(value) == 3:
            r, g, b = value[:3]
            return f"rgb({r}, {g}, {b})" if css else f"{r / 255}, {g / 255}, {b / 255}"
        r, g, b, a = value[:4]
        return f"rgba({r}, {g}, {b}, {a})" if css else f"{r / 255}, {g / 255}, {b / 255}, {a}"


class PyGenericEventAttribute(BooleanProperty):
    attrname = _PageName()

    def __init__(self, defaultvalue=False, eventhandler=None, prevent_default=False, eventargs=None, eventjs="",
                 dispatch=True, *, attrtype="", sync=0, attrname="", **kw):
        _attribute_fields(self, attrtype, sync, attrname)
        self.eventhandler = eventhandler
        self.prevent_default = bool(prevent_default)
        self.dispatch_event = bool(dispatch)
        self.eventargs = eventargs or {}
        self.eventjs = eventjs if type(eventjs) is str else str(eventjs)
        kw["allownone"] = True
        super().__init__(defaultvalue, **kw)

    def event_name(self):
        return f"on_{self.attrname[2:]}"

    def attrvalue(self, obj):
        if not self.get(obj):
            return ""
        handler = self.eventhandler
        if handler is None:
            return ""
        if isinstance(handler, str):
            return handler
        if callable(handler):
            return handler(obj, self.event_name(), prevent_default=self.prevent_default,
                           event_args=self.eventargs, event_js=self.eventjs, dispatch=self.dispatch_event)
        raise AttributeError(f"renderer must be of callable type or string, got {type(handler)}")
