// The HTML rules for the names in a start tag.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::render {

// Whether `c` may stand in an attribute name: not a control, not one of
// space " ' > / =, not a noncharacter (U+FDD0 to U+FDEF, and the last two
// code points of every plane).
inline bool attribute_name_char(Py_UCS4 c) noexcept {
    if (c <= 0x20 || (c >= 0x7F && c <= 0x9F)) {
        return false;
    }
    switch (c) {
        case '"':
        case '\'':
        case '>':
        case '/':
        case '=':
            return false;
        default:
            break;
    }
    return !(c >= 0xFDD0 && c <= 0xFDEF) && (c & 0xFFFE) != 0xFFFE;
}

// A valid attribute name: a non-empty str of attribute-name characters.
inline bool valid_attribute_name(PyObject* name) noexcept {
    if (!PyUnicode_Check(name)) {
        return false;
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(name);
    if (length == 0) {
        return false;
    }
    const int kind = PyUnicode_KIND(name);
    const void* data = PyUnicode_DATA(name);
    for (Py_ssize_t i = 0; i < length; ++i) {
        if (!attribute_name_char(PyUnicode_READ(kind, data, i))) {
            return false;
        }
    }
    return true;
}

// A valid tag name: an ASCII letter, then attribute-name characters other
// than "<".
inline bool valid_tag_name(PyObject* tag) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(tag);
    if (length == 0) {
        return false;
    }
    const int kind = PyUnicode_KIND(tag);
    const void* data = PyUnicode_DATA(tag);
    const Py_UCS4 first = PyUnicode_READ(kind, data, 0);
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) {
        return false;
    }
    for (Py_ssize_t i = 1; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '<' || !attribute_name_char(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace tavo::render
