// The rule for a value written into a style attribute: it stays one
// declaration's value. A text a person typed may reach a style rendering, so
// nothing in it may end the declaration (and so add others), open a rule, or
// swallow the declarations written after it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::render {

// Null when `text` (a str) is a contained declaration value: ;, { and }
// stand only inside quotes or brackets, quotes and brackets close, no line
// break stands inside quotes and no comment opens. Otherwise what it holds
// that is not (a static text for the message).
inline const char* style_value_fault(PyObject* text) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    const void* data = PyUnicode_DATA(text);
    Py_UCS4 quote = 0;
    Py_ssize_t depth = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c == '\\') {
            ++i;  // an escaped character stands for itself
            continue;
        }
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\n' || c == '\r' || c == '\f') {
                return "a line break inside quotes";
            }
            continue;
        }
        switch (c) {
            case '"':
            case '\'':
                quote = c;
                break;
            case '(':
            case '[':
                ++depth;
                break;
            case ')':
            case ']':
                if (depth == 0) {
                    return "a closing bracket that closes nothing";
                }
                --depth;
                break;
            case '/':
                if (i + 1 < length && PyUnicode_READ(kind, data, i + 1) == '*') {
                    return "a comment";
                }
                break;
            case ';':
                if (depth == 0) {
                    return "';' outside quotes and brackets";
                }
                break;
            case '{':
            case '}':
                if (depth == 0) {
                    return "a brace outside quotes and brackets";
                }
                break;
            default:
                break;
        }
    }
    if (quote) {
        return "a quote it does not close";
    }
    return depth ? "a bracket it does not close" : nullptr;
}

}  // namespace tavo::render
