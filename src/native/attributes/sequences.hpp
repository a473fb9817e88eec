// Reading the items of a stored sequence and joining their texts.
#pragma once

#include "attributes/state.hpp"

namespace tavo::attributes {

// The texts of the items of `iterable` (a str item as it is, others through
// str()) joined by `separator`.
PyObject* join_item_texts(PyObject* iterable, PyObject* separator);

// value[i] for an index i >= 0, by the value's own subscription (a subclass's
// __getitem__, a mapping's key i); exact lists and tuples are read directly,
// a list's index checked against its current length.
inline PyObject* item_at(PyObject* value, Py_ssize_t i) {
    if (PyList_CheckExact(value) && i < PyList_GET_SIZE(value)) {
        return new_ref(PyList_GET_ITEM(value, i));
    }
    if (PyTuple_CheckExact(value) && i < PyTuple_GET_SIZE(value)) {
        return new_ref(PyTuple_GET_ITEM(value, i));
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? PyObject_GetItem(value, index.get()) : nullptr;
}

}  // namespace tavo::attributes
