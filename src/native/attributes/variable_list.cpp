// _VariableListAttribute: style attributes such as margin and padding that
// take one, two or four values, expanded to the property's target length and
// rendered space-separated.
#include "attributes/numeric_like.hpp"

#include <array>

namespace tavo::attributes {

namespace {

using VarList = NumericLike<VariableListAttributeObject>;
constexpr const char* kConvert = "tavo.core._attributes._VariableListAttribute.convert";
constexpr const char* kConvertNumeric = "tavo.core._attributes._VariableListAttribute._convert_numeric";

VariableListAttributeTable table;
GlobalName css_length_units{&k.CSS_LENGTH_UNITS};

int target_length(PyObject* self) {
    return VarList::of(self)->base.target_length;
}

// One item through the object's own table (a native subclass may replace it).
PyObject* convert_item(PyObject* self, PyObject* obj, PyObject* item) {
    const auto* own = reinterpret_cast<const VariableListAttributeTable*>(
        reinterpret_cast<contract::PropertyObject*>(self)->vtab);
    return own->convert_numeric(self, obj, item);
}

// A new list of `count` items taken in turn from `items`.
PyObject* list_of(std::initializer_list<PyObject*> items, int count) {
    PyObject* list = PyList_New(count);
    if (!list) {
        return nullptr;
    }
    auto it = items.begin();
    for (int i = 0; i < count; ++i) {
        PyList_SET_ITEM(list, i, new_ref(*it));
        if (++it == items.end()) {
            it = items.begin();
        }
    }
    return list;
}

// [v, v] or [v, v, v, v] by the target length; None for any other length.
PyObject* expand(PyObject* self, Ref value) {
    if (!value) {
        return nullptr;
    }
    const int length = target_length(self);
    if (length == 2 || length == 4) {
        return list_of({value.get()}, length);
    }
    return none_ref();
}

PyObject* convert_sequence(PyObject* self, PyObject* obj, PyObject* x) {
    // A subclass's own length and indexing count (x[0], x[1], ...).
    const Py_ssize_t n = PyList_CheckExact(x) || PyTuple_CheckExact(x) ? PySequence_Fast_GET_SIZE(x)
                                                                        : PyObject_Length(x);
    if (n < 0) {
        return nullptr;
    }
    if (n == 4 && target_length(self) != 4) {
        raise_composed(obj, self, {text(" must have 1 or 2 components (got "), repr(x), text(")")});
        return nullptr;
    }
    if (n != 1 && n != 2 && n != 4) {
        raise_composed(obj, self,
                       {text(target_length(self) == 4 ? " must have 1, 2 or 4 components (got "
                                                      : " must have 1 or 2 components (got "),
                        repr(x), text(")")});
        return nullptr;
    }
    // Each item is read just before it is converted; converting may run code
    // that changes the list, and reading checks the index against its length.
    std::array<Ref, 4> converted;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref item = Ref::steal(item_at(x, i));
        if (!item) {
            return nullptr;
        }
        converted[i] = Ref::steal(convert_item(self, obj, item.get()));
        if (!converted[i]) {
            return nullptr;
        }
    }
    if (n == 1) {
        return expand(self, std::move(converted[0]));
    }
    if (n == 2) {
        const int length = target_length(self);
        if (length == 2 || length == 4) {
            return list_of({converted[0].get(), converted[1].get()}, length);
        }
        return none_ref();
    }
    return list_of({converted[0].get(), converted[1].get(), converted[2].get(), converted[3].get()}, 4);
}

PyObject* convert(PyObject* self, PyObject* obj, PyObject* x);

// Whether splitting the text at runs of whitespace (as str.split() does)
// gives two parts or more; a text with fewer is converted whole.
template <typename Char>
bool has_two_parts_of(const Char* chars, Py_ssize_t length) {
    bool in_part = false;
    int parts = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        if (Py_UNICODE_ISSPACE(chars[i])) {
            in_part = false;
        } else if (!in_part) {
            in_part = true;
            if (++parts == 2) {
                return true;
            }
        }
    }
    return false;
}

bool has_two_parts(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return has_two_parts_of(PyUnicode_1BYTE_DATA(text), length);
        case PyUnicode_2BYTE_KIND: return has_two_parts_of(PyUnicode_2BYTE_DATA(text), length);
        default: return has_two_parts_of(PyUnicode_4BYTE_DATA(text), length);
    }
}

PyObject* convert_steps(PyObject* self, PyObject* obj, PyObject* x) {
    if (x == Py_None) {
        return none_ref();
    }
    const int option = VarList::is_option(self, x);
    if (option < 0) {
        return nullptr;
    }
    if (option) {
        return new_ref(x);
    }
    if (PyList_Check(x) || PyTuple_Check(x)) {
        Ref keep = Ref::borrow(x);
        return convert_sequence(self, obj, keep.get());
    }
    const bool is_text = PyUnicode_Check(x);
    if (!PyLong_CheckExact(x) && !PyFloat_CheckExact(x) && !is_text) {
        raise_composed(obj, self, {text(" has an invalid format (got "), repr(x), text(")")});
        return nullptr;
    }
    if (is_text && has_two_parts(x)) {
        Ref parts = Ref::steal(PyUnicode_Split(x, nullptr, -1));
        if (!parts) {
            return nullptr;
        }
        if (PyList_GET_SIZE(parts.get()) >= 2) {
            return convert(self, obj, parts.get());
        }
    }
    return expand(self, Ref::steal(convert_item(self, obj, x)));
}

PyObject* convert(PyObject* self, PyObject* obj, PyObject* x) {
    PyObject* result = convert_steps(self, obj, x);
    if (!result) {
        ATTR_TRACE(kConvert);
    }
    return result;
}

// The text from position `start` (negative: from the end) to its end.
PyObject* text_tail(PyObject* text, PyObject* slice, Py_ssize_t count) {
    if (PyUnicode_CheckExact(text)) {
        const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
        return PyUnicode_Substring(text, length > count ? length - count : 0, length);
    }
    return PyObject_GetItem(text, slice);
}

// Whether the last `count` characters of the exact str `text` are `unit`.
bool ends_with(PyObject* text, Py_ssize_t count, PyObject* unit) {
    if (PyUnicode_GET_LENGTH(unit) != count) {
        return false;
    }
    const Py_ssize_t start = PyUnicode_GET_LENGTH(text) - count;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (PyUnicode_READ_CHAR(unit, i) != PyUnicode_READ_CHAR(text, start + i)) {
            return false;
        }
    }
    return true;
}

// `text[-2:] in units` for an exact str and a tuple: the tuple's own
// membership test, with an exact str member compared by its characters and
// the slice made only for a member of another type. 1, 0 or -1.
int tail_in_units(PyObject* text, PyObject* units) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const Py_ssize_t count = length < 2 ? length : 2;
    Ref tail;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(units); ++i) {
        PyObject* unit = PyTuple_GET_ITEM(units, i);
        int found;
        if (PyUnicode_CheckExact(unit)) {
            found = ends_with(text, count, unit);
        } else {
            if (!tail) {
                tail = Ref::steal(PyUnicode_Substring(text, length - count, length));
                if (!tail) {
                    return -1;
                }
            }
            found = PyObject_RichCompareBool(unit, tail.get(), Py_EQ);
        }
        if (found != 0) {
            return found;
        }
    }
    return 0;
}

// _convert_numeric of an exact str: the same tests on its characters.
PyObject* convert_exact_text(PyObject* item) {
    Ref units = Ref::steal(module_global(css_length_units));
    if (!units) {
        return nullptr;
    }
    int is_unit;
    if (PyTuple_CheckExact(units.get())) {
        is_unit = tail_in_units(item, units.get());
    } else {
        Ref last_two = Ref::steal(text_tail(item, k.slice_from_neg2, 2));
        is_unit = last_two ? PySequence_Contains(units.get(), last_two.get()) : -1;
    }
    if (is_unit < 0) {
        return nullptr;
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(item);
    const bool kept = is_unit || (length > 0 && PyUnicode_READ_CHAR(item, length - 1) == '%');
    return new_ref(kept ? item : Py_None);
}

// A text without a unit ending becomes None here; VariableListProperty's
// check, which this class keeps, refuses a list holding one when assigned.
PyObject* convert_numeric_steps(PyObject* self, PyObject* obj, PyObject* item) {
    if (PyLong_CheckExact(item) || PyFloat_CheckExact(item)) {
        return new_ref(item);
    }
    if (!PyUnicode_Check(item)) {
        raise_composed(obj, self, {text(" has an invalid format (got "), repr(item), text(")")});
        return nullptr;
    }
    if (PyUnicode_CheckExact(item)) {
        return convert_exact_text(item);
    }
    Ref last_two = Ref::steal(text_tail(item, k.slice_from_neg2, 2));
    if (!last_two) {
        return nullptr;
    }
    Ref units = Ref::steal(module_global(css_length_units));
    if (!units) {
        return nullptr;
    }
    const int is_unit = PySequence_Contains(units.get(), last_two.get());
    if (is_unit < 0) {
        return nullptr;
    }
    if (is_unit) {
        return new_ref(item);
    }
    Ref last = Ref::steal(text_tail(item, k.slice_from_neg1, 1));
    if (!last) {
        return nullptr;
    }
    const int is_percent = PyObject_RichCompareBool(last.get(), k.percent, Py_EQ);
    if (is_percent < 0) {
        return nullptr;
    }
    return new_ref(is_percent ? item : Py_None);
}

PyObject* convert_numeric(PyObject* self, PyObject* obj, PyObject* item) {
    PyObject* result = convert_numeric_steps(self, obj, item);
    if (!result) {
        ATTR_TRACE(kConvertNumeric);
    }
    return result;
}

PyObject* render(PyObject* self, PyObject* obj) {
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
    return join_item_texts(value.get(), k.space);
}

const void* build_table() {
    table.base = *g.variable_list_table;
    table.base.base.convert = convert;
    table.convert_numeric = convert_numeric;
    table.attrvalue = attrvalue_entry<variable_list_attribute_class, render>;
    return &table;
}

constexpr char kVarlistInit[] = "tavo.core._attributes._VariableListAttribute.__init__";
using VarlistSlots =
    NumericLikeSlots<VariableListAttributeObject, &State::VariableListProperty, variable_list_attribute_class,
                     &table, kVarlistInit>;

CommonGetters<VariableListAttributeObject, true> getters{GETTER_NAMES("_VariableListAttribute")};

const char varlist_doc[] =
    "_VariableListAttribute(defaultvalue=[0, 0, 0, 0], /, *, length=4, attrtype='', attrname='', sync=0, "
    "options=[])\n--\n\n"
    "A ListAttribute that allows you to work with a variable number of\n"
    "list items and to expand them to the desired list size.\n"
    "\n"
    "For example, style attributes like `margin` or `padding` accept one, two or four values,\n"
    "which are expanded into a length four list [left, top, right, bottom] and stored in the\n"
    "attribute.\n"
    "\n"
    ":Parameters:\n"
    "    `defaultvalue`: list, defaults to []\n"
    "        Specifies the default value of the attribute.\n"
    "    `attrtype`: 'style', 'class', 'element'\n"
    "        The kind of html attribute.\n"
    "    `sync`: bool\n"
    "        Relevant for element attributes only, class and style attributes are always synced.\n"
    "        If true, the update event is sent to the client when the value changes.\n"
    "    `options`: list\n"
    "        The other possible values which are accepted by the attribute instance, e.g. 'inherit'.\n";

PyTypeObject varlist_type = attribute_type_object({
    "tavo.core._attributes._VariableListAttribute", sizeof(VariableListAttributeObject), varlist_doc,
    VarlistSlots::create, VarlistSlots::init, VarlistSlots::traverse, VarlistSlots::clear, VarlistSlots::dealloc,
    getters.table,
});

}  // namespace

AttrClass variable_list_attribute_class{
    &varlist_type,
    "_VariableListAttribute",
    "tavo.core._attributes._VariableListAttribute.attrvalue",
    "tavo.core._attributes._VariableListAttribute.__reduce__",
    "tavo.core._attributes._VariableListAttribute.__setstate__",
    build_table,
    &g.VariableListProperty,
    attrvalue_entry<variable_list_attribute_class, render>,
};

}  // namespace tavo::attributes
