// _NumericAttribute and _BoundedNumericAttribute: numbers with an optional
// CSS unit, plus a closed list of other accepted values (such as inherit).
#include "attributes/numeric_like.hpp"
#include "attributes/number_text.hpp"

#include <cmath>
#include <cstring>

namespace tavo::attributes {

namespace {

// The unit to render: the base's get_units called directly where the class
// keeps NumericProperty's method, looks attributes up as the runtime does and
// its instances have no dict that could shadow it; any other get_units is
// called by name.
PyObject* units_for(PyObject* self, PyObject* obj) {
    PyObject* base = g.numeric_get_units;
    PyTypeObject* type = Py_TYPE(self);
    if (base && type->tp_dictoffset == 0 && type->tp_getattro == PyObject_GenericGetAttr &&
        compat::type_lookup(type, k.get_units) == base) {
        return reinterpret_cast<PyMethodDescrObject*>(base)->d_method->ml_meth(self, obj);
    }
    return PyObject_CallMethodOneArg(self, k.get_units, obj);
}

// "{0}{1}".format(value, units) for a true `units`: built in one piece for a
// number with an ASCII unit text, which is what a page renders most.
PyObject* number_with_unit(PyObject* value, PyObject* units) {
    char digits[32];
    Py_ssize_t length = 0;
    if (PyUnicode_CheckExact(units) && PyUnicode_IS_ASCII(units) && write_number(value, digits, length)) {
        const Py_ssize_t unit_length = PyUnicode_GET_LENGTH(units);
        PyObject* result = PyUnicode_New(length + unit_length, 127);
        if (result) {
            Py_UCS1* out = PyUnicode_1BYTE_DATA(result);
            std::memcpy(out, digits, static_cast<size_t>(length));
            std::memcpy(out + length, PyUnicode_1BYTE_DATA(units), static_cast<size_t>(unit_length));
        }
        return result;
    }
    Ref number = Ref::steal(default_text(value));
    if (!number) {
        return nullptr;
    }
    Ref unit_text = Ref::steal(PyObject_Format(units, k.empty_str));
    if (!unit_text) {
        return nullptr;
    }
    return PyUnicode_Concat(number.get(), unit_text.get());
}

}  // namespace

PyObject* render_number_with_units(PyObject* self, PyObject* obj) {
    Ref value = Ref::steal(current_value(self, obj));
    if (!value) {
        return nullptr;
    }
    if (value.get() == Py_None) {
        return new_ref(k.empty_str);
    }
    if (PyUnicode_Check(value.get())) {
        return value.release();
    }
    Ref units = Ref::steal(units_for(self, obj));
    if (!units) {
        return nullptr;
    }
    const int has_units = PyObject_IsTrue(units.get());
    if (has_units < 0) {
        return nullptr;
    }
    if (!has_units) {
        return default_text(value.get());
    }
    return number_with_unit(value.get(), units.get());
}

void raise_invalid_numeric_option(PyObject* self, PyObject* obj, PyObject* value, PyObject* options) {
    Ref keep = Ref::borrow(options);
    raise_composed(obj, self,
                   {text(" accept only int/float/str and is set to an invalid option "), repr(value),
                    text(". Must be one of: "), plain(keep.get())});
}

namespace {

bool is_exact_number(PyObject* value) {
    return PyLong_CheckExact(value) || PyFloat_CheckExact(value);
}

// ---- _NumericAttribute -------------------------------------------------------

using Numeric = NumericLike<NumericAttributeObject>;
constexpr const char* kNumericConvert = "tavo.core._attributes._NumericAttribute.convert";
constexpr const char* kNumericCheck = "tavo.core._attributes._NumericAttribute.check";

NumericAttributeTable numeric_table;

PyObject* unit_float(float number) {
    if (PyErr_Occurred()) {
        return nullptr;
    }
    return PyFloat_FromDouble(static_cast<double>(number));
}

PyObject* numeric_convert_steps(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None) {
        return none_ref();
    }
    const int option = Numeric::is_option(self, value);
    if (option < 0) {
        return nullptr;
    }
    if (option || is_exact_number(value)) {
        return new_ref(value);
    }
    // Through the object's own table, so a native subclass's parsers are used.
    const auto* own = reinterpret_cast<const contract::NumericPropertyVTable*>(
        reinterpret_cast<contract::PropertyObject*>(self)->vtab);
    if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
        if (PySequence_Fast_GET_SIZE(value) != 2) {
            raise_composed(obj, self, {text(" must have 2 components (got "), repr(value), text(")")});
            return nullptr;
        }
        Ref number = Ref::borrow(PySequence_Fast_GET_ITEM(value, 0));
        Ref unit = Ref::borrow(PySequence_Fast_GET_ITEM(value, 1));
        return unit_float(own->parse_unit_pair(self, obj, number.get(), unit.get()));
    }
    if (PyUnicode_Check(value)) {
        return unit_float(own->parse_unit_text(self, obj, value));
    }
    raise_composed(obj, self, {text(" has an invalid format (got "), repr(value), text(")")});
    return nullptr;
}

PyObject* numeric_convert(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = numeric_convert_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kNumericConvert);
    }
    return result;
}

PyObject* numeric_check_steps(PyObject* self, PyObject* obj, PyObject* value) {
    Ref root = Ref::steal(g.property_table->check(self, obj, value));
    if (!root) {
        return nullptr;
    }
    const int accepted = PyObject_IsTrue(root.get());
    if (accepted < 0) {
        return nullptr;
    }
    if (accepted) {
        return new_ref(Py_True);
    }
    if (PyFloat_CheckExact(value) && !std::isfinite(PyFloat_AS_DOUBLE(value))) {
        // NaN and the infinities render as texts no browser reads as a length.
        raise_composed(obj, self, {text(" accept only finite numbers (got "), repr(value), text(")")});
        return nullptr;
    }
    if (is_exact_number(value) || PyUnicode_CheckExact(value)) {
        return none_ref();
    }
    const int option = Numeric::is_option(self, value);
    if (option < 0) {
        return nullptr;
    }
    if (option) {
        return none_ref();
    }
    raise_invalid_numeric_option(self, obj, value, Numeric::of(self)->options);
    return nullptr;
}

PyObject* numeric_check(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = numeric_check_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kNumericCheck);
    }
    return result;
}

const void* build_numeric_table() {
    numeric_table.base = *g.numeric_table;
    numeric_table.base.base.check = numeric_check;
    numeric_table.base.base.convert = numeric_convert;
    numeric_table.attrvalue = attrvalue_entry<numeric_attribute_class, render_number_with_units>;
    return &numeric_table;
}

constexpr char kNumericInit[] = "tavo.core._attributes._NumericAttribute.__init__";
using NumericSlots =
    NumericLikeSlots<NumericAttributeObject, &State::NumericProperty, numeric_attribute_class,
                     &numeric_table, kNumericInit>;

CommonGetters<NumericAttributeObject, true> numeric_getters{GETTER_NAMES("_NumericAttribute")};

const char numeric_doc[] =
    "_NumericAttribute(defaultvalue=0, /, *, units='', attrtype='', attrname='', sync=0, options=[])\n--\n\n"
    "Html attribute class with a numeric value.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: numeric, defaults to 0.0\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `options`: list\n"
    "        The other possible values which are accepted by the attribute instance, e.g. 'inherit'.\n"
    "    `units`: str\n"
    "        valid CSS metric default units: 'px', 'mm', '%', etc. or empty\n";

PyTypeObject numeric_type = attribute_type_object({
    "tavo.core._attributes._NumericAttribute", sizeof(NumericAttributeObject), numeric_doc,
    NumericSlots::create, NumericSlots::init, NumericSlots::traverse, NumericSlots::clear, NumericSlots::dealloc,
    numeric_getters.table,
});

// ---- _BoundedNumericAttribute --------------------------------------------------

using Bounded = NumericLike<BoundedNumericAttributeObject>;
constexpr const char* kBoundedConvert = "tavo.core._attributes._BoundedNumericAttribute.convert";
constexpr const char* kBoundedCheck = "tavo.core._attributes._BoundedNumericAttribute.check";

BoundedNumericAttributeTable bounded_table;

PyObject* bounded_convert_steps(PyObject* self, PyObject* obj, PyObject* value) {
    if (value == Py_None) {
        return none_ref();
    }
    const int option = Bounded::is_option(self, value);
    if (option < 0) {
        return nullptr;
    }
    if (option) {
        return new_ref(value);
    }
    return g.bounded_numeric_table->base.base.convert(self, obj, value);
}

PyObject* bounded_convert(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = bounded_convert_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kBoundedConvert);
    }
    return result;
}

PyObject* bounded_check_steps(PyObject* self, PyObject* obj, PyObject* value) {
    if (is_exact_number(value)) {
        return g.bounded_numeric_table->base.base.check(self, obj, value);
    }
    const int option = Bounded::is_option(self, value);
    if (option < 0) {
        return nullptr;
    }
    if (option) {
        return new_ref(Py_True);
    }
    raise_invalid_numeric_option(self, obj, value, Bounded::of(self)->options);
    return nullptr;
}

PyObject* bounded_check(PyObject* self, PyObject* obj, PyObject* value) {
    PyObject* result = bounded_check_steps(self, obj, value);
    if (!result) {
        ATTR_TRACE(kBoundedCheck);
    }
    return result;
}

const void* build_bounded_table() {
    bounded_table.base = *g.bounded_numeric_table;
    bounded_table.base.base.base.check = bounded_check;
    bounded_table.base.base.base.convert = bounded_convert;
    bounded_table.attrvalue = attrvalue_entry<bounded_numeric_attribute_class, render_number_with_units>;
    return &bounded_table;
}

constexpr char kBoundedInit[] = "tavo.core._attributes._BoundedNumericAttribute.__init__";
using BoundedSlots =
    NumericLikeSlots<BoundedNumericAttributeObject, &State::BoundedNumericProperty, bounded_numeric_attribute_class,
                     &bounded_table, kBoundedInit>;

CommonGetters<BoundedNumericAttributeObject, true> bounded_getters{GETTER_NAMES("_BoundedNumericAttribute")};

const char bounded_doc[] =
    "_BoundedNumericAttribute(defaultvalue=0, /, *, min=None, max=None, units='', attrtype='', "
    "attrname='', sync=0, options=[])\n--\n\n"
    "Html attribute class with a bounded numeric value.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: numeric, defaults to 0.0\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `options`: list\n"
    "        The other possible values which are accepted by the attribute instance, e.g. 'auto'.\n"
    "    `min`: numeric\n"
    "        accepted minimum value\n"
    "    `max`: numeric\n"
    "        accepted maximum value\n";

PyTypeObject bounded_type = attribute_type_object({
    "tavo.core._attributes._BoundedNumericAttribute", sizeof(BoundedNumericAttributeObject), bounded_doc,
    BoundedSlots::create, BoundedSlots::init, BoundedSlots::traverse, BoundedSlots::clear, BoundedSlots::dealloc,
    bounded_getters.table,
});

}  // namespace

AttrClass numeric_attribute_class{
    &numeric_type,
    "_NumericAttribute",
    "tavo.core._attributes._NumericAttribute.attrvalue",
    "tavo.core._attributes._NumericAttribute.__reduce__",
    "tavo.core._attributes._NumericAttribute.__setstate__",
    build_numeric_table,
    &g.NumericProperty,
    attrvalue_entry<numeric_attribute_class, render_number_with_units>,
};

AttrClass bounded_numeric_attribute_class{
    &bounded_type,
    "_BoundedNumericAttribute",
    "tavo.core._attributes._BoundedNumericAttribute.attrvalue",
    "tavo.core._attributes._BoundedNumericAttribute.__reduce__",
    "tavo.core._attributes._BoundedNumericAttribute.__setstate__",
    build_bounded_table,
    &g.BoundedNumericProperty,
    attrvalue_entry<bounded_numeric_attribute_class, render_number_with_units>,
};

}  // namespace tavo::attributes
