// NumericProperty and BoundedNumericProperty: numbers, optionally written
// with a CSS unit ("10px", "50%", (10, "px")); the unit is recorded per owner.
#include "properties/common.hpp"

#include <structmember.h>

#include <cfloat>
#include <cmath>
#include <cstddef>

namespace tavo::properties {

using Numeric = contract::NumericPropertyObject;
using Bounded = contract::BoundedNumericPropertyObject;

contract::NumericPropertyVTable numeric_table;
contract::BoundedNumericPropertyVTable bounded_numeric_table;

PyTypeObject numeric_type = static_type_base();
PyTypeObject bounded_numeric_type = static_type_base();

namespace {

// shown_units of a numeric property.
inline PyObject* numeric_shown_units(Numeric* self, PyObject* recorded) {
    if (recorded && recorded != Py_None) {
        return recorded;
    }
    return self->units ? self->units : Py_None;
}

}  // namespace

PyObject* shown_units(PyObject* self, PyObject* recorded) {
    if (PyObject_TypeCheck(self, &numeric_type)) {
        return numeric_shown_units(reinterpret_cast<Numeric*>(self), recorded);
    }
    return recorded ? recorded : Py_None;
}

namespace {

Numeric* as_numeric(PyObject* o) { return reinterpret_cast<Numeric*>(o); }
Bounded* as_bounded(PyObject* o) { return reinterpret_cast<Bounded*>(o); }

const contract::NumericPropertyVTable* numeric_vtab(PyObject* self) {
    return reinterpret_cast<const contract::NumericPropertyVTable*>(as_property(self)->vtab);
}

// ---- unit parsing -----------------------------------------------------------

// The refusal of a number that is NaN or infinite.
void raise_not_finite(PyObject* self, PyObject* obj, PyObject* given) {
    raise_for(PyExc_ValueError, obj, self, " accept only finite numbers (got %R)", given);
}

// Whether `unit` is a unit this system knows: a CSS length unit or "%".
int is_unit(PyObject* unit) {
    if (!PyUnicode_Check(unit)) {
        return 0;
    }
    if (PyUnicode_GET_LENGTH(unit) == 1 && PyUnicode_READ_CHAR(unit, 0) == '%') {
        return 1;
    }
    return PySequence_Contains(css_length_units, unit);
}

// Record the unit (str or None) for the owner; without an owner there is
// nothing to record. An assignment whose value is then refused puts the
// unit it found back (see root_set_value).
int record_unit(PyObject* self, PyObject* obj, PyObject* unit) {
    if (obj == Py_None) {
        return 0;
    }
    contract::PropertyStorageObject* storage = storage_of(self, obj);
    if (!storage) {
        return -1;
    }
    contract::set_record_field(storage, storage->units, Ref::borrow(unit));
    return 0;
}

// The 32-bit float of a parsed number. NaN and the infinities (written out,
// or a text such as "1e400" that reads as one) are a ValueError: the browser
// drops such a length; so is a finite number beyond the float range (the
// narrowing would not be defined).
float narrow(PyObject* self, PyObject* obj, PyObject* given, double number) {
    if (!std::isfinite(number)) {
        raise_not_finite(self, obj, given);
        return -1.0f;
    }
    if (std::fabs(number) > static_cast<double>(FLT_MAX)) {
        raise_for(PyExc_ValueError, obj, self, " has a number out of range (got %R)", given);
        return -1.0f;
    }
    return static_cast<float>(number);
}

// The number of a text, or null: a ValueError for a text that is not one,
// which the callers replace with the property's own message.
PyObject* number_of_text(PyObject* text) {
    return PyFloat_FromString(text);
}

// The member of CSS_LENGTH_UNITS (two-character texts) that `text` ends
// with, borrowed; null when none does.
PyObject* length_unit_ending(PyObject* text, Py_ssize_t length) {
    const Py_UCS4 first = PyUnicode_READ_CHAR(text, length - 2);
    const Py_UCS4 second = PyUnicode_READ_CHAR(text, length - 1);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(css_length_units); ++i) {
        PyObject* unit = PyTuple_GET_ITEM(css_length_units, i);
        if (PyUnicode_GET_LENGTH(unit) == 2 && PyUnicode_READ_CHAR(unit, 0) == first &&
            PyUnicode_READ_CHAR(unit, 1) == second) {
            return unit;
        }
    }
    return nullptr;
}

// A number followed by an optional unit: "%" as the last character, else the
// last two characters when they are a CSS length unit, else no unit. Records
// the unit (None when there is none) and returns the number as a 32-bit float.
float parse_unit_text(PyObject* self, PyObject* obj, PyObject* text) {
    if (!PyUnicode_Check(text)) {
        raise_for(PyExc_TypeError, obj, self, " expects a unit text, got %.200s", Py_TYPE(text)->tp_name);
        return -1.0f;
    }
    Ref keep = Ref::borrow(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    Py_ssize_t unit_length = 0;
    Ref unit = Ref::borrow(Py_None);
    if (length >= 1 && PyUnicode_READ_CHAR(text, length - 1) == '%') {
        unit_length = 1;
        unit = Ref::steal(PyUnicode_Substring(text, length - 1, length));
    } else if (length >= 2) {
        // The known unit the text ends with, if any: the units' own text is
        // what gets recorded.
        PyObject* known = length_unit_ending(text, length);
        if (known) {
            unit_length = 2;
            unit = Ref::borrow(known);
        }
    }
    Ref number_text = Ref::steal(PyUnicode_Substring(text, 0, length - unit_length));
    if (!number_text || !unit) {
        return -1.0f;
    }
    Ref number = Ref::steal(number_of_text(number_text.get()));
    if (!number) {
        if (PyErr_ExceptionMatches(PyExc_ValueError)) {
            PyErr_Clear();
            raise_for(PyExc_ValueError, obj, self, " has an invalid unit text (got %R)", text);
        }
        return -1.0f;
    }
    const float result = narrow(self, obj, text, PyFloat_AS_DOUBLE(number.get()));
    if (PyErr_Occurred() || record_unit(self, obj, unit.get()) < 0) {
        return -1.0f;
    }
    return result;
}

// `number` (an int, a float or a numeric text) with `unit` (a CSS length unit
// or "%"): records the unit and returns the number as a 32-bit float.
float parse_unit_pair(PyObject* self, PyObject* obj, PyObject* number, PyObject* unit) {
    const int known = is_unit(unit);
    if (known < 0) {
        return -1.0f;
    }
    if (!known) {
        raise_for(PyExc_ValueError, obj, self, " has an invalid unit (got %R)", unit);
        return -1.0f;
    }
    Ref value;
    if (is_number(number)) {
        value = Ref::steal(PyNumber_Float(number));
    } else if (PyUnicode_Check(number)) {
        value = Ref::steal(number_of_text(number));
    } else {
        raise_for(PyExc_ValueError, obj, self, " has an invalid number (got %R)", number);
        return -1.0f;
    }
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_ValueError)) {
            PyErr_Clear();
            raise_for(PyExc_ValueError, obj, self, " has an invalid number (got %R)", number);
        } else if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();  // an int beyond the float range
            raise_for(PyExc_ValueError, obj, self, " has a number out of range (got %R)", number);
        }
        return -1.0f;
    }
    const float result = narrow(self, obj, number, PyFloat_AS_DOUBLE(value.get()));
    if (PyErr_Occurred() || record_unit(self, obj, unit) < 0) {
        return -1.0f;
    }
    return result;
}

PyObject* unit_result(float number) {
    return PyErr_Occurred() ? nullptr : PyFloat_FromDouble(static_cast<double>(number));
}

// ---- table entries ----------------------------------------------------------

// Numbers unchanged; a unit text or a (number, unit) pair read through the
// property's own parsers; None passed on (the check decides); else ValueError.
PyObject* numeric_convert(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None || is_number(value)) {
        return new_ref(value);
    }
    const contract::NumericPropertyVTable* table = numeric_vtab(self);
    if (PyUnicode_Check(value)) {
        return unit_result(table->parse_unit_text(self, obj, value));
    }
    if ((PyList_Check(value) || PyTuple_Check(value)) && PySequence_Fast_GET_SIZE(value) == 2) {
        Ref number = Ref::borrow(PySequence_Fast_GET_ITEM(value, 0));
        Ref unit = Ref::borrow(PySequence_Fast_GET_ITEM(value, 1));
        return unit_result(table->parse_unit_pair(self, obj, number.get(), unit.get()));
    }
    raise_for(PyExc_ValueError, obj, self, " has an invalid format (got %R)", value);
    return nullptr;
}

PyObject* numeric_check(PyObject* self, PyObject* obj, PyObject* value) {
    const int accepted = root_accepts(self, obj, value);
    if (accepted != 0) {
        return root_decided(accepted);
    }
    if (!is_number(value)) {
        raise_for(PyExc_ValueError, obj, self, " accept only int/float (got %R)", value);
        return nullptr;
    }
    if (!PyLong_Check(value) && !std::isfinite(PyFloat_AS_DOUBLE(value))) {  // a float: is_number holds
        raise_not_finite(self, obj, value);
        return nullptr;
    }
    return none_ref();
}

// NaN and the infinities are refused by numeric_check first: NaN compares
// false with both bounds and would pass them.
PyObject* bounded_check(PyObject* self, PyObject* obj, PyObject* value) {
    Ref accepted = Ref::steal(numeric_check(self, obj, value));
    if (!accepted || accepted.get() == Py_True) {
        return accepted.release();
    }
    Ref low = Ref::borrow(as_bounded(self)->min);
    Ref high = Ref::borrow(as_bounded(self)->max);
    if (low && low.get() != Py_None) {
        const int below = PyObject_RichCompareBool(value, low.get(), Py_LT);
        if (below < 0) {
            return nullptr;
        }
        if (below) {
            raise_for(PyExc_ValueError, obj, self, " is below the minimum bound (%R)", low.get());
            return nullptr;
        }
    }
    if (high && high.get() != Py_None) {
        const int above = PyObject_RichCompareBool(value, high.get(), Py_GT);
        if (above < 0) {
            return nullptr;
        }
        if (above) {
            raise_for(PyExc_ValueError, obj, self, " is above the maximum bound (%R)", high.get());
            return nullptr;
        }
    }
    return none_ref();
}

// ---- NumericProperty --------------------------------------------------------

PyObject* numeric_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(property_new_with(type, &numeric_table));
    if (!self) {
        return nullptr;
    }
    as_numeric(self.get())->units = PyUnicode_FromStringAndSize(nullptr, 0);
    return as_numeric(self.get())->units ? self.release() : nullptr;
}

int numeric_init(PyObject* self, PyObject* args, PyObject* kwds) {
    Ref zero = Ref::steal(PyLong_FromLong(0));
    if (!zero || property_init_root(self, args, kwds, zero.get()) < 0) {
        return -1;
    }
    PyObject* units = nullptr;
    if (keyword(kwds, "units", units) < 0) {
        return -1;
    }
    if (units) {
        if (!PyUnicode_Check(units)) {
            PyErr_Format(PyExc_TypeError, "units must be a str, got %.200s", Py_TYPE(units)->tp_name);
            return -1;
        }
        // A misspelt unit would be written after every number of every owner.
        const int known = PyUnicode_GET_LENGTH(units) == 0 ? 1 : is_unit(units);
        if (known < 0) {
            return -1;
        }
        if (!known) {
            PyErr_Format(PyExc_ValueError,
                         "%s units is not a known unit (got %R): give one of CSS_LENGTH_UNITS %R, '%%' or ''",
                         short_type_name(Py_TYPE(self)), units, css_length_units);
            return -1;
        }
        set_field(as_numeric(self)->units, Ref::borrow(units));
    }
    return 0;
}

int numeric_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_numeric(self)->units);
    return property_traverse(self, visit, arg);
}

int numeric_clear(PyObject* self) {
    set_field(as_numeric(self)->units, Ref::steal(PyUnicode_FromStringAndSize(nullptr, 0)));
    return property_clear(self);
}

void numeric_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<numeric_dealloc>(self, [self] {
        Py_CLEAR(as_numeric(self)->units);
        property_dealloc(self);
    });
}

PyObject* numeric_get_units(PyObject* self, PyObject* obj) {
    if (obj != Py_None) {
        // An owner without a record for this property has recorded no unit.
        PyObject* entry = storage_entry_of(self, obj);
        if (!entry) {
            return nullptr;
        }
        if (contract::is_record(entry, &storage_type)) {
            return new_ref(
                numeric_shown_units(as_numeric(self), reinterpret_cast<contract::PropertyStorageObject*>(entry)->units));
        }
    }
    return new_ref(numeric_shown_units(as_numeric(self), nullptr));
}

PyMethodDef numeric_methods[] = {
    {"get_units", numeric_get_units, METH_O,
     "get_units(obj): the unit recorded for the owner, else the `units` given at construction."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef numeric_members[] = {
    {"units", T_OBJECT, offsetof(Numeric, units), READONLY, "The default unit (str)."},
    {nullptr, 0, 0, 0, nullptr},
};

// ---- BoundedNumericProperty ----------------------------------------------------

PyObject* bounded_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
    Ref self = Ref::steal(numeric_new(type, args, kwds));
    if (self) {
        as_bounded(self.get())->min = none_ref();
        as_bounded(self.get())->max = none_ref();
        as_property(self.get())->vtab = &bounded_numeric_table.base.base;
    }
    return self.release();
}

int bounded_init(PyObject* self, PyObject* args, PyObject* kwds) {
    if (numeric_init(self, args, kwds) < 0) {
        return -1;
    }
    Bounded* b = as_bounded(self);
    for (auto [name, field] : {std::pair{"min", &b->min}, std::pair{"max", &b->max}}) {
        PyObject* bound = nullptr;
        if (keyword(kwds, name, bound) < 0) {
            return -1;
        }
        if (bound && bound != Py_None && !is_number(bound)) {
            PyErr_Format(PyExc_TypeError, "%s must be an int, a float or None, got %.200s", name,
                         Py_TYPE(bound)->tp_name);
            return -1;
        }
        set_field(*field, Ref::borrow(bound ? bound : Py_None));
    }
    return 0;
}

int bounded_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(as_bounded(self)->min);
    Py_VISIT(as_bounded(self)->max);
    return numeric_traverse(self, visit, arg);
}

int bounded_clear(PyObject* self) {
    set_field(as_bounded(self)->min, Ref::borrow(Py_None));
    set_field(as_bounded(self)->max, Ref::borrow(Py_None));
    return numeric_clear(self);
}

void bounded_dealloc(PyObject* self) {
    compat::dealloc_in_trashcan<bounded_dealloc>(self, [self] {
        Py_CLEAR(as_bounded(self)->min);
        Py_CLEAR(as_bounded(self)->max);
        numeric_dealloc(self);
    });
}

PyMemberDef bounded_members[] = {
    {"min", T_OBJECT, offsetof(Bounded, min), READONLY, "The lower bound, or None."},
    {"max", T_OBJECT, offsetof(Bounded, max), READONLY, "The upper bound, or None."},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

void fill_numeric_types() {
    PyTypeObject& n = numeric_type;
    n.tp_name = "tavo.core.properties.NumericProperty";
    n.tp_basicsize = sizeof(Numeric);
    n.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    n.tp_doc =
        "NumericProperty(defaultvalue=0, *, units='', **kw): an int or float, also given as a unit text "
        "('10px', '50%') or a (number, unit) pair; the unit is recorded per owner.";
    n.tp_dealloc = numeric_dealloc;
    n.tp_traverse = numeric_traverse;
    n.tp_clear = numeric_clear;
    n.tp_methods = numeric_methods;
    n.tp_members = numeric_members;
    n.tp_init = numeric_init;
    n.tp_new = numeric_new;

    PyTypeObject& b = bounded_numeric_type;
    b.tp_name = "tavo.core.properties.BoundedNumericProperty";
    b.tp_basicsize = sizeof(Bounded);
    b.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    b.tp_doc = "BoundedNumericProperty(defaultvalue=0, *, min=None, max=None, **kw): a number within bounds.";
    b.tp_dealloc = bounded_dealloc;
    b.tp_traverse = bounded_traverse;
    b.tp_clear = bounded_clear;
    b.tp_members = bounded_members;
    b.tp_init = bounded_init;
    b.tp_new = bounded_new;
}

void build_numeric_tables() {
    numeric_table.base = property_table;
    numeric_table.base.convert = numeric_convert;
    numeric_table.base.check = numeric_check;
    numeric_table.parse_unit_text = parse_unit_text;
    numeric_table.parse_unit_pair = parse_unit_pair;
    bounded_numeric_table.base = numeric_table;
    bounded_numeric_table.base.base.check = bounded_check;
}

}  // namespace tavo::properties
