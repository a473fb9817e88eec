// Small operations on str objects and type names, on the public C API.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

namespace tavo {

// Whether two exact str objects hold the same text. Equal texts have the same
// length and, being canonical, the same storage width.
inline bool text_equal(PyObject* a, PyObject* b) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(a);
    if (length != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) {
        return false;
    }
    return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b),
                       static_cast<std::size_t>(length) * PyUnicode_KIND(a)) == 0;
}

// `items[0..count)` (str objects) joined by `separator`: one new str
// sized and filled in one pass, without a container of the pieces. The
// result is an exact str.
inline PyObject* join_texts(PyObject* separator, PyObject* const* items, Py_ssize_t count) noexcept {
    if (count == 0) {
        return PyUnicode_New(0, 0);
    }
    if (count == 1 && PyUnicode_CheckExact(items[0])) {
        Py_INCREF(items[0]);
        return items[0];
    }
    const Py_ssize_t separator_length = PyUnicode_GET_LENGTH(separator);
    Py_UCS4 max_char = PyUnicode_MAX_CHAR_VALUE(separator);
    Py_ssize_t length = separator_length * (count - 1);
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Py_ssize_t item_length = PyUnicode_GET_LENGTH(items[i]);
        if (item_length > PY_SSIZE_T_MAX - length) {
            PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python string");
            return nullptr;
        }
        length += item_length;
        const Py_UCS4 item_max = PyUnicode_MAX_CHAR_VALUE(items[i]);
        if (item_max > max_char) {
            max_char = item_max;
        }
    }
    PyObject* result = PyUnicode_New(length, max_char);
    if (!result) {
        return nullptr;
    }
    // A piece of the result's width is copied as it is; a narrower one is
    // widened by the runtime.
    const int kind = PyUnicode_KIND(result);
    auto* data = static_cast<char*>(PyUnicode_DATA(result));
    Py_ssize_t at = 0;
    auto copy = [&](PyObject* piece, Py_ssize_t piece_length) {
        if (PyUnicode_KIND(piece) == kind) {
            std::memcpy(data + at * kind, PyUnicode_DATA(piece), static_cast<std::size_t>(piece_length) * kind);
        } else {
            PyUnicode_CopyCharacters(result, at, piece, 0, piece_length);
        }
        at += piece_length;
    };
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i > 0 && separator_length > 0) {
            copy(separator, separator_length);
        }
        copy(items[i], PyUnicode_GET_LENGTH(items[i]));
    }
    return result;
}

// The type's name without its module: what follows the last "." of tp_name.
inline const char* short_type_name(const PyTypeObject* type) noexcept {
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot ? dot + 1 : type->tp_name;
}

}  // namespace tavo
