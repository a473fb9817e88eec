// The rule for a value written into a style attribute: it stays one
// declaration's value. A text a person typed may reach a style rendering, so
// nothing in it may end the declaration (and so add others), open a rule, or
// swallow the declarations written after it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavo::render {

namespace style_value_detail {

// The characters the scan below stops at; every other one is plain.
constexpr auto stops = [] {
    struct {
        bool at[256] = {};
    } table;
    for (const char c : {';', '{', '}', '(', ')', '[', ']', '"', '\'', '\\', '/', '\n', '\r', '\f'}) {
        table.at[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

template <typename Char>
inline bool stops_at(Char c) noexcept {
    return (sizeof(Char) == 1 || c < 256) && stops.at[static_cast<unsigned char>(c)];
}

template <typename Char>
const char* fault_of(const Char* data, Py_ssize_t length) noexcept {
    Py_UCS4 quote = 0;
    Py_ssize_t depth = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Char c = data[i];
        if (!stops_at(c)) {
            continue;  // most values (lengths, colours, keywords) hold none of them
        }
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
                if (i + 1 < length && data[i + 1] == '*') {
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

}  // namespace style_value_detail

// Null when `text` (a str) is a contained declaration value: ;, { and }
// stand only inside quotes or brackets, quotes and brackets close, no line
// break stands inside quotes and no comment opens. Otherwise what it holds
// that is not (a static text for the message).
inline const char* style_value_fault(PyObject* text) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return style_value_detail::fault_of(PyUnicode_1BYTE_DATA(text), length);
        case PyUnicode_2BYTE_KIND:
            return style_value_detail::fault_of(PyUnicode_2BYTE_DATA(text), length);
        default:
            return style_value_detail::fault_of(PyUnicode_4BYTE_DATA(text), length);
    }
}

}  // namespace tavo::render
