// Membership of a value in an option list, as `value in options` decides it.
#include "attributes/option_membership.hpp"

#include "support/text.hpp"

namespace tavo::attributes {

namespace {

enum class Kind { Text, Number, None, List, Tuple, Dict, Other };

Kind kind_of(PyObject* o) {
    if (PyUnicode_CheckExact(o)) {
        return Kind::Text;
    }
    if (PyLong_CheckExact(o) || PyFloat_CheckExact(o)) {
        return Kind::Number;
    }
    if (o == Py_None) {
        return Kind::None;
    }
    if (PyList_CheckExact(o)) {
        return Kind::List;
    }
    if (PyTuple_CheckExact(o)) {
        return Kind::Tuple;
    }
    return PyDict_CheckExact(o) ? Kind::Dict : Kind::Other;
}

// The outcome of `a == b` when the built-in types decide it without running
// any code: texts with texts by content; texts, numbers, None, lists, tuples
// and dicts each with another of these kinds as different (both sides'
// comparisons decline, and the objects are not the same). -1 when the
// runtime's comparison must run.
int known_equality(PyObject* a, Kind ka, PyObject* b, Kind kb) {
    if (a == b) {
        return 1;
    }
    if (ka == Kind::Other || kb == Kind::Other) {
        return -1;
    }
    if (ka != kb) {
        return 0;
    }
    return ka == Kind::Text ? text_equal(a, b) : -1;
}

// The list's membership test from item `first` on, once a comparison has to
// run code: that code may change or release the list, the value and the item.
int contains_from(PyObject* list, PyObject* value, Kind value_kind, Py_ssize_t first) {
    Ref keep_list = Ref::borrow(list);
    Ref keep_value = Ref::borrow(value);
    for (Py_ssize_t i = first; i < PyList_GET_SIZE(list); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
        int found = known_equality(item.get(), kind_of(item.get()), value, value_kind);
        if (found < 0) {
            found = PyObject_RichCompareBool(item.get(), value, Py_EQ);
        }
        if (found != 0) {
            return found;
        }
    }
    return 0;
}

}  // namespace

int contains(PyObject* container, PyObject* value) {
    if (!PyList_CheckExact(container)) {
        Ref keep_container = Ref::borrow(container);
        Ref keep_value = Ref::borrow(value);
        return PySequence_Contains(container, value);
    }
    // The list's own membership test, item by item; the comparisons the
    // built-in types decide run no code, so nothing can change under them.
    const Kind value_kind = kind_of(value);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(container); ++i) {
        PyObject* item = PyList_GET_ITEM(container, i);
        const int found = known_equality(item, kind_of(item), value, value_kind);
        if (found < 0) {
            return contains_from(container, value, value_kind, i);
        }
        if (found) {
            return 1;
        }
    }
    return 0;
}

}  // namespace tavo::attributes
